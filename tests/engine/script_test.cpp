#include "engine/script.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <regex>
#include <vector>

#include "script_fixture.h"

namespace ordalis {
namespace {

using testing_support::Observer;
using testing_support::ScriptTest;
namespace fs = std::filesystem;

TEST_F(ScriptTest, RunsActionsAndAggregatesTheRootResult) {
  EXPECT_EQ(RunToEnd("t = new echo()\n"
                     "x = t.Echo(1, \"a\")\n"
                     "t.Fail()\n"
                     "y = x[1]\n"),
            TestFailed);
  EXPECT_EQ(Statement(2)->current_result(), TestFailed);
  EXPECT_EQ(Statement(2)->NumberOfRecords(), 1u);
  ResultRecord echo = Statement(1)->Record(0);
  EXPECT_EQ(echo.result, TestPassed);
  ASSERT_EQ(echo.values.size(), 2u);
  EXPECT_EQ(echo.values[1].as_string(), "a");
  // The testers were closed at the end of the run; plain values stay.
  EXPECT_FALSE(script_->variables().Contains("t"));
  EXPECT_TRUE(observer_->Logged("Close called successfully"));
  EXPECT_EQ(Variable("y").DisplayText(), "\"a\"");
  EXPECT_FALSE(script_->results_xml_path().empty());
  EXPECT_TRUE(fs::exists(script_->results_xml_path()));
}

TEST_F(ScriptTest, StateMachineTransitionsAndTheirLogLines) {
  // Pause and Stop while not running change nothing and log nothing.
  script_->Pause();
  script_->Stop();
  ScriptState state;
  script_->get_State(&state);
  EXPECT_EQ(state, ScriptNotRunning);
  EXPECT_TRUE(observer_->states.empty());

  Load("t = new echo()\nwhile true do t.Count() endwhile\n");
  script_->Run();
  ASSERT_TRUE(observer_->WaitFor([&] { return observer_->executed.size() > 5; }));
  script_->Run();  // again while running: logged again, the run goes on
  script_->Pause();
  ASSERT_TRUE(observer_->WaitForState(ScriptPaused));
  std::size_t executed = observer_->Executed().size();
  script_->Pause();  // while paused: nothing
  EXPECT_EQ(observer_->states.back(), ScriptPaused);
  script_->Run();  // resumes where it stopped
  ASSERT_TRUE(observer_->WaitFor([&] { return observer_->executed.size() > executed + 5; }));
  script_->Pause();
  ASSERT_TRUE(observer_->WaitForState(ScriptPaused)) << ::testing::PrintToString(observer_->states);
  script_->Stop();  // wakes the paused run, which ends normally
  ASSERT_TRUE(observer_->WaitForRunEnd());
  for (const char* text : {"State changed to ScriptRunning 4", "State changed to ScriptPausing 5",
                           "State changed to ScriptPaused 6", "State changed to ScriptStopping 1",
                           "State changed to ScriptNotRunning 2"}) {
    EXPECT_TRUE(observer_->Logged(text)) << text;
  }
  std::vector<ScriptState> expected = {ScriptRunning, ScriptRunning, ScriptPausing, ScriptPaused,
                                       ScriptRunning, ScriptPausing, ScriptPaused, ScriptStopping,
                                       ScriptNotRunning};
  EXPECT_EQ(observer_->states, expected);
}

TEST_F(ScriptTest, BreakpointPausesBeforeItsStatementAndStepRunsOne) {
  Load("a = 1\nb = 2\nc = 3\nd = 4\n");
  Statement(2)->put_BreakpointSet(kVariantTrue);
  script_->Run();
  ASSERT_TRUE(observer_->WaitForState(ScriptPaused));
  EXPECT_EQ(observer_->Executed(), (std::vector<std::string>{"=", "="}));
  std::shared_ptr<IScriptItem> current;
  script_->get_CurrentItem(&current);
  EXPECT_EQ(current.get(), static_cast<IScriptItem*>(Statement(2)));
  script_->Step();
  ASSERT_TRUE(observer_->WaitFor([&] { return observer_->executed.size() == 3 && observer_->states.back() == ScriptPaused; }));
  EXPECT_TRUE(script_->variables().Contains("c"));
  EXPECT_FALSE(script_->variables().Contains("d"));
  script_->Run();
  ASSERT_TRUE(observer_->WaitForRunEnd());
  EXPECT_TRUE(script_->variables().Contains("d"));
}

TEST_F(ScriptTest, AbortStopsTheRunBeforeTheNextStatement) {
  EXPECT_EQ(RunToEnd("a = 1\nabort(\"enough\")\nb = 2\n"), TestAborted);
  EXPECT_FALSE(script_->variables().Contains("b"));
  EXPECT_TRUE(observer_->Logged("Script Aborted \"enough\""));
  BatchQueueItemStatus status;
  script_->get_Status(&status);
  EXPECT_EQ(status, BatchQueueItemAborted);
}

TEST_F(ScriptTest, StopEndsASleep) {
  Load("sleep(600)\n");
  script_->Run();
  ASSERT_TRUE(observer_->WaitFor([&] {
    return std::any_of(observer_->lines.begin(), observer_->lines.end(), [](const Observer::Line& l) {
      return l.message == "executing command \"sleep\"";
    });
  }));
  script_->Stop();
  EXPECT_TRUE(observer_->WaitForRunEnd());
  // The text counts whole seconds down from 600; the stop came within the first ones.
  EXPECT_TRUE(std::regex_match(Variable("sleep").text(), std::regex("time remaining (600|59[0-9]) seconds")))
      << Variable("sleep").text();
}

TEST_F(ScriptTest, StopAbortsTheRunningAction) {
  Load("t = new echo()\nt.Wait(600000)\n");
  script_->Run();
  // The tester says when it starts waiting: the action is then running.
  ASSERT_TRUE(observer_->WaitFor([&] {
    return std::any_of(observer_->lines.begin(), observer_->lines.end(),
                       [](const Observer::Line& l) { return l.message == "Waiting 600000 ms"; });
  }));
  script_->Stop();
  ASSERT_TRUE(observer_->WaitForRunEnd());
  EXPECT_EQ(Statement(1)->current_result(), TestAborted);
}

TEST_F(ScriptTest, FunctionsLocalsAndReturnFromNestedBlocks) {
  EXPECT_EQ(RunToEnd("x = 1\n"
                     "function f\n"
                     "  local x = 10\n"
                     "  while true do\n"
                     "    if f[0] > 2 then\n"
                     "      y = f[0] * x\n"
                     "      return y, f[1]\n"
                     "    endif\n"
                     "  endwhile\n"
                     "endfunction\n"
                     "r = f(3, \"s\")\n"
                     "function count\n"
                     "  n = arraylength(count)\n"
                     "  return n\n"
                     "endfunction\n"
                     "c = count(1, [2, 3])\n"
                     "g = early()\n"
                     "function early\n"
                     "  return 7\n"
                     "endfunction\n"),
            TestPassed);
  EXPECT_EQ(Variable("r").ListText(), "30,\"s\"");
  EXPECT_EQ(Variable("x").ListText(), "1");  // the local was put back
  EXPECT_FALSE(script_->variables().Contains("f"));
  EXPECT_EQ(Variable("g").ListText(), "7");
  EXPECT_EQ(Variable("c").ListText(), "3");  // an array argument contributes its elements  // a function defined after its call is found
  EXPECT_TRUE(observer_->Logged("Variable x reset to 1"));
}

TEST_F(ScriptTest, PauseOnErrorHonoursIgnoreResult) {
  Load("t = new echo()\n"
       "ignoreresult\n  t.Fail()\nendignoreresult\n"
       "t.Fail()\n"
       "done = 1\n");
  script_->put_PauseOnError(kVariantTrue);
  script_->Run();
  ASSERT_TRUE(observer_->WaitForState(ScriptPaused));
  EXPECT_TRUE(observer_->Logged("Pause on error ignored as error is inside Ignore Result section"));
  EXPECT_FALSE(script_->variables().Contains("done"));
  EXPECT_EQ(Statement(2)->current_result(), TestFailed);
  script_->Run();
  // The root statement itself ends failed, so the run pauses once more before it ends.
  ASSERT_TRUE(observer_->WaitFor([&] {
    return std::count(observer_->states.begin(), observer_->states.end(), ScriptPaused) == 2;
  }));
  EXPECT_TRUE(script_->variables().Contains("done"));
  script_->Run();
  ASSERT_TRUE(observer_->WaitForRunEnd());
  EXPECT_EQ(Statement(1)->current_result(), TestPassed);  // the section records Passed
}

TEST_F(ScriptTest, RunningContinuouslyCountsIterations) {
  Load("t = new echo()\nt.Echo(1)\n");
  script_->put_RunningContinuously(kVariantTrue);
  ASSERT_TRUE(observer_->WaitFor([&] { return observer_->starts >= 3; }));
  script_->put_RunningContinuously(kVariantFalse);
  ASSERT_TRUE(observer_->WaitForRunEnd());
  EXPECT_GE(script_->iteration_counter(), 3u);
  EXPECT_GE(Statement(1)->NumberOfRecords(), 3u);
  ResultRecord last = Statement(1)->Record(Statement(1)->NumberOfRecords() - 1);
  EXPECT_EQ(last.iteration, script_->iteration_counter());
}

TEST_F(ScriptTest, ClientsReadAndWriteVariablesDuringARun) {
  // The loop ends on a variable only the client writes, so no increment can undo the write.
  Load("go = 1\nn = 0\nwhile go > 0 do\n  n++\nendwhile\n");
  script_->Run();
  ASSERT_TRUE(observer_->WaitFor([&] { return observer_->executed.size() > 10; }));
  for (int i = 0; i < 100; ++i) {
    std::uint32_t count = 0;
    script_->get_VariableCount(&count);
    VariantArrayPtr value;
    if (script_->get_VariableValue("n", &value) == S_OK) {
      ASSERT_TRUE(value);
      EXPECT_EQ(value->size(), 1u);
    }
    std::string name, text;
    script_->VariableDetails(0, &name, &text);
  }
  EXPECT_EQ(script_->put_VariableValue("go", std::make_shared<VariantArray>(VariantArray{Variant::Int(0)})), S_OK);
  EXPECT_EQ(script_->put_VariableValue("missing", std::make_shared<VariantArray>()), E_INVALIDARG);
  EXPECT_EQ(script_->put_VariableValue("n", nullptr), E_POINTER);
  ASSERT_TRUE(observer_->WaitForRunEnd());
  VariantArrayPtr value;
  EXPECT_EQ(script_->get_VariableValue("N", &value), E_INVALIDARG);  // names as given
}

TEST_F(ScriptTest, RemoteControlRunsChunksInTurn) {
  script_->SetFileNames((dir_ / "remote.odl").string());  // results go below the test's folder
  ASSERT_TRUE(script_->MakeRemoteRoot());
  ASSERT_TRUE(script_->RemoteRun("a = 1\nt = new echo()\n"));
  ASSERT_TRUE(observer_->WaitForState(ScriptPaused));
  EXPECT_TRUE(script_->variables().Contains("t"));
  ASSERT_TRUE(script_->RemoteRun("t.Fail()\nb = a\n"));
  ASSERT_TRUE(observer_->WaitFor([&] {
    return observer_->states.size() >= 2 && observer_->states.back() == ScriptPaused &&
           std::count(observer_->states.begin(), observer_->states.end(), ScriptPaused) >= 2;
  }));
  EXPECT_TRUE(script_->variables().Contains("b"));
  script_->Stop();
  ASSERT_TRUE(observer_->WaitForRunEnd());
  // The aggregated result of the chunks lands on the root.
  EXPECT_EQ(script_->root()->current_result(), TestFailed);
  EXPECT_GE(observer_->resets, 3);
}

TEST_F(ScriptTest, DestructionWhileRunning) {
  Load("t = new echo()\nwhile true do t.Count() endwhile\n");
  script_->Run();
  ASSERT_TRUE(observer_->WaitFor([&] { return observer_->executed.size() > 3; }));
  script_.reset();  // must stop the run and end the thread
  SUCCEED();
}

TEST_F(ScriptTest, LoadErrorsAndAccessorStatusCodes) {
  Load("x = 1\nendif\n");
  BatchQueueItemStatus status;
  script_->get_Status(&status);
  EXPECT_EQ(status, BatchQueueItemFailed);
  EXPECT_EQ(script_->overall_result(), TestFailed);
  EXPECT_EQ(script_->Load("x", nullptr), E_POINTER);
  std::string text = "unchanged";
  std::string name = "unchanged";
  EXPECT_EQ(script_->VariableDetails(99, &name, &text), S_OK);
  EXPECT_EQ(name, "");
  EXPECT_EQ(script_->get_variableName(99, &name), E_INVALIDARG);
  std::string file;
  script_->get_ResultsFile(&file);
  EXPECT_EQ(file, "xml");
  EXPECT_EQ(script_->PlaybackFile((dir_ / "none.odlrec").string()), S_OK);
}

TEST_F(ScriptTest, LogFilesAreMovedAndCopiedIntoTheResults) {
  fs::create_directories(dir_ / "logs");
  for (const char* name : {"a.trc", "b.trc", "keep#1.txt"}) std::ofstream(dir_ / "logs" / name) << name;
  std::string logs = (dir_ / "logs").string();
  EXPECT_EQ(RunToEnd("movelogfile(\"" + logs + "/*.trc\")\n"
                     "copylogfile(\"" + logs + "/keep#1.txt\")\n"
                     "movelogfile(\"" + logs + "/none.*\")\n"),
            TestPassed);
  std::string xml_path = script_->results_xml_path();
  std::string base = xml_path.substr(0, xml_path.size() - 4);
  EXPECT_TRUE(fs::exists(base + "_a.trc"));
  EXPECT_TRUE(fs::exists(base + "_b.trc"));
  EXPECT_FALSE(fs::exists(dir_ / "logs" / "a.trc")) << "moved, not copied";
  EXPECT_TRUE(fs::exists(base + "_keep#1.txt"));
  EXPECT_TRUE(fs::exists(dir_ / "logs" / "keep#1.txt")) << "copied, so still there";
  EXPECT_TRUE(observer_->Logged("Failed to move log file '" + logs + "/none.*' file not found"));
  std::ifstream in(xml_path, std::ios::binary);
  std::string xml((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string stamp = fs::path(base).filename().string();
  EXPECT_NE(xml.find("  <logfile>" + stamp + ".log</logfile>"), std::string::npos);
  EXPECT_NE(xml.find("  <logfile>" + stamp + "_a.trc</logfile>"), std::string::npos);
  EXPECT_NE(xml.find("  <logfile>" + stamp + "_keep%231.txt</logfile>"), std::string::npos);
  EXPECT_TRUE(fs::exists(base + ".log"));
  EXPECT_TRUE(fs::exists(base + ".odlrec"));
  EXPECT_TRUE(fs::exists(fs::path(base).parent_path() / "Ordalis4_2.xsl"));
}

TEST_F(ScriptTest, BuiltInFunctions) {
  EXPECT_EQ(RunToEnd("n = strlen(\"abcd\")\n"
                     "printf(\"%d-%s\", n[0], \"x\")\n"
                     "missing_function(1)\n"),
            TestFailed);
  EXPECT_EQ(Variable("n").ListText(), "4");
  EXPECT_TRUE(observer_->Logged("4-x"));
  EXPECT_TRUE(observer_->Logged("Error: function missing_function not found"));
}

// Connected sinks of both outgoing interfaces, after the in-process client.
class Sinks : public IScriptEvents, public ITraceEvents {
 public:
  Status Executed(std::uint32_t id) override { return Note("executed " + std::to_string(id)); }
  Status ResultsReset() override { return Note("results reset"); }
  Status Started() override { return Note("started"); }
  Status Reset() override { return Note("reset"); }
  Status Log(const std::string& file, std::uint32_t line, std::int64_t, double seconds, LoggingLevel,
             const std::string& variable, const std::string& message) override {
    EXPECT_GE(seconds, 0.0);
    EXPECT_LT(seconds, 1.0);
    return Note("log " + file.substr(file.find_last_of('/') + 1) + ":" + std::to_string(line) + " " +
                variable + " " + message);
  }
  Status LogClear() override { return Note("log clear"); }
  std::vector<std::string> Events() {
    std::lock_guard lock(mutex_);
    return events_;
  }

 private:
  Status Note(std::string event) {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
    return E_FAIL;  // a failing sink is ignored
  }
  std::mutex mutex_;
  std::vector<std::string> events_;
};

TEST_F(ScriptTest, EventsReachConnectedSinks) {
  auto sinks = std::make_shared<Sinks>();
  std::uint32_t script_cookie = 0, trace_cookie = 0;
  ASSERT_EQ(script_->ScriptEvents().Advise(sinks, &script_cookie), S_OK);
  ASSERT_EQ(script_->TraceEvents().Advise(sinks, &trace_cookie), S_OK);
  EXPECT_EQ(RunToEnd("x = 1\nprintf(\"hello\")\n"), TestPassed);
  std::vector<std::string> events = sinks->Events();
  auto has = [&](const std::string& event) {
    return std::find(events.begin(), events.end(), event) != events.end();
  };
  EXPECT_TRUE(has("started"));
  EXPECT_TRUE(has("log clear"));
  EXPECT_TRUE(has("executed " + std::to_string(Statement(0)->id())));
  // The line carries the place of the statement being run.
  EXPECT_TRUE(has("log test.odl:2 script hello")) << ::testing::PrintToString(events);
  ASSERT_EQ(script_->ScriptEvents().Unadvise(script_cookie), S_OK);
  ASSERT_EQ(script_->TraceEvents().Unadvise(trace_cookie), S_OK);
  std::size_t before = sinks->Events().size();
  script_->Run();
  ASSERT_TRUE(observer_->WaitForRunEnd(2));
  EXPECT_EQ(sinks->Events().size(), before);
}

TEST_F(ScriptTest, RecordedRunReplaysWithoutTesters) {
  EXPECT_EQ(RunToEnd("t = new echo()\nx = t.Echo(5, \"line\\nfeed\")\nt.Result(3)\n"), TestWarning);
  std::string record = script_->results_xml_path();
  record = record.substr(0, record.size() - 3) + "odlrec";
  ASSERT_TRUE(fs::exists(record));

  auto replay = CScript::Create(nullptr, Pacing{0, 0, 0});
  auto observer = std::make_shared<Observer>();
  replay->SetScriptEventsClient(observer);
  replay->SetTraceEventsClient(observer);
  std::string path = (dir_ / "test.odl").string();
  ASSERT_EQ(replay->PlaybackFile(record), S_OK);
  VariantBool loaded;
  replay->Load(path, &loaded);
  replay->Run();
  ASSERT_TRUE(observer->WaitForRunEnd());
  EXPECT_EQ(replay->root()->current_result(), TestWarning);
  ResultRecord echo = replay->root()->child(1)->Record(0);
  ASSERT_EQ(echo.values.size(), 2u);
  EXPECT_EQ(echo.values[0].as_int(), 5);
  EXPECT_FALSE(observer->Logged("in != expected"));
}

}  // namespace
}  // namespace ordalis
