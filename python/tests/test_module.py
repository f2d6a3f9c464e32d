"""The Python module: scripts with events, the run helper, the other classes and errors."""
import os
import shutil
import subprocess
import sys
import threading
import time

import pytest

import ordalis

HERE = os.path.dirname(os.path.abspath(__file__))


@pytest.fixture
def scripts(tmp_path):
    """A private copy of the test scripts, so their results land in tmp_path."""
    shutil.copytree(os.path.join(HERE, "scripts"), tmp_path / "scripts")
    return tmp_path / "scripts"


def test_script_runs_with_events(scripts):
    script = ordalis.Script()
    executed, states, logs = [], [], []
    script.on_executed(lambda item: executed.append((item.line, item.result)))
    script.on_state_changed(states.append)
    script.on_log(lambda level, text, variable: logs.append(text))
    assert script.load(str(scripts / "failing.odl"))
    assert script.errors == []
    root = script.item
    assert [c.type for c in root.children][:2] == ["commentItem", "resultItem"]
    script.run()
    assert script.wait(timeout=60)
    assert script.state == ordalis.ScriptState.NOT_RUNNING
    assert script.result == ordalis.Result.FAILED
    assert (4, ordalis.Result.FAILED) in executed
    assert ordalis.ScriptState.RUNNING in states and states[-1] == ordalis.ScriptState.NOT_RUNNING
    assert script.variable("x") == [2]
    assert os.path.isfile(script.results_path)
    script.close()


@pytest.mark.filterwarnings("ignore::pytest.PytestUnraisableExceptionWarning")
def test_callback_that_raises_does_not_stop_the_run(scripts):
    script = ordalis.Script()
    script.on_executed(lambda item: 1 / 0)
    script.load(str(scripts / "passing.odl"))
    script.set_run_variable("limit", "10")
    script.run()
    assert script.wait(timeout=60)
    assert script.result == ordalis.Result.PASSED
    script.close()


@pytest.mark.parametrize("limit, verdict", [(10, ordalis.Result.PASSED), (4, ordalis.Result.FAILED)])
def test_run_gives_verdict_named_results_and_files(scripts, limit, verdict):
    result = ordalis.run(scripts / "passing.odl", limit=limit)
    assert result.verdict == verdict
    assert [(r.name, r.result) for r in result.named_results] == [
        ("sum", ordalis.Result.PASSED), ("within limit", verdict)]
    assert all(os.path.isfile(f) for f in result.files) and len(result.files) == 2
    assert sum(result.counts.values()) >= 1


def test_run_names_the_failing_line(scripts):
    result = ordalis.run(scripts / "failing.odl")
    assert not result.passed
    assert result.failures and "failing.odl(4)" in result.failures[0]


def test_run_adds_the_run_with_its_labels_to_the_results_store(tmp_path):
    import sqlite3
    script = tmp_path / "rail.odl"
    script.write_text('result "Rail 5V" passed\n')
    store = tmp_path / "station.db"
    result = ordalis.run(script, results_directory=tmp_path / "Results", labels={"station": "3"},
                         results_db=str(store))
    with sqlite3.connect(store) as db:
        rows = db.execute("SELECT r.script, r.verdict, l.name, l.value FROM runs r"
                          " JOIN run_labels l ON l.run_id = r.id").fetchall()
    assert result.passed and rows == [("rail.odl", 0, "station", "3")]


def test_run_reports_syntax_errors_without_running(tmp_path):
    broken = tmp_path / "broken.odl"
    broken.write_text("x = = 1\n")
    result = ordalis.run(broken)
    assert result.verdict == ordalis.Result.ERROR and result.errors
    assert result.results_path == ""
    with pytest.raises(FileNotFoundError):
        ordalis.run(tmp_path / "missing.odl")


def test_stopping_a_run_from_another_thread(tmp_path):
    endless = tmp_path / "endless.odl"
    endless.write_text("i = 0\nwhile true do\n  i++\nendwhile\n")
    script = ordalis.Script()
    started = threading.Event()
    script.on_state_changed(lambda state: state == ordalis.ScriptState.RUNNING and started.set())
    script.load(str(endless))
    script.run()
    assert started.wait(60)
    script.stop()
    assert script.wait(timeout=60)
    assert script.result in (ordalis.Result.ABORTED, ordalis.Result.PASSED, ordalis.Result.NOT_RUN)
    with pytest.raises(TimeoutError):
        ordalis.run(endless, timeout=0.2)
    script.close()


def test_classes_and_values():
    assert ordalis.class_names() == [
        "Ordalis.Script", "Ordalis.ScriptItem", "Ordalis.ApplicationManager",
        "Ordalis.TesterUtilities", "Ordalis.BatchQueue", "Ordalis.ScriptProxy"]
    utilities = ordalis.TesterUtilities()
    assert utilities.variable_value('1, "two", [3, 4.5]') == [1, "two", [3, 4.5]]
    manager = ordalis.ApplicationManager()
    assert manager.version
    manager.add_variable(True, "python_user", "5")
    assert ("python_user", "5") in manager.variables(user=True)
    manager.remove_variable(True, "python_user")
    queue = ordalis.BatchQueue()
    with pytest.raises(ordalis.OrdalisError) as error:
        queue.status(12345)
    assert error.value.status == 0x80070057  # E_INVALIDARG: no such entry
    queue.close()


def test_batch_queue_runs_scripts(scripts):
    queue = ordalis.BatchQueue()
    finished = []
    queue.on_finished(finished.append)
    ids = [queue.add(str(scripts / "failing.odl")), queue.add(str(scripts / "passing.odl"))]
    queue.run()
    assert queue.wait_for_finished(2, timeout=120)
    assert sorted(finished) == sorted(ids)
    assert os.path.basename(queue.file_name(ids[0])) == "failing.odl"
    queue.close()


def test_script_proxy_serves_a_remote_peer_over_loopback(tmp_path, scripts):
    """A proxy served from Python on a loopback TCP port, driven by `ordalis remote`."""
    command = os.environ.get("ORDALIS_COMMAND")
    if not command:
        pytest.skip("ORDALIS_COMMAND names the ordalis command (CTest sets it)")
    key = "python loopback key phrase"
    proxy = ordalis.ScriptProxy()
    proxy.set_key(key)
    proxy.set_link("tcp", "0")
    deadline = time.monotonic() + 30
    while proxy.listening_port == 0 and time.monotonic() < deadline:
        time.sleep(0.01)  # the link opens its port on its own thread
    port = proxy.listening_port
    assert port != 0
    remote = subprocess.run(
        [command, "remote", "tcp", f'"127.0.0.1", {port}', "--key", key,
         "--run", str(scripts / "failing.odl")],
        capture_output=True, text=True, timeout=120)
    assert remote.returncode == 1, remote.stdout + remote.stderr  # the script's verdict: Failed
    assert proxy.link == ("tcp", "0")
    proxy.save_as(str(tmp_path / "proxy.settings"))
    assert os.path.isfile(tmp_path / "proxy.settings")


# A child interpreter that starts a run of an endless script and leaves without close(); the
# tester's first action tells it the run is under way. {start} starts the run.
LEAVE_WITHOUT_CLOSE = """
import sys, threading, ordalis
ticked = threading.Event()

@ordalis.tester("pyticker")
class Ticker:
    def Tick(self):
        ticked.set()

directory, path = sys.argv[1], sys.argv[2]
{start}
assert ticked.wait(60)
"""

START_SCRIPT = """
script = ordalis.Script()
script.results_directory = directory
script.on_executed(lambda item: None)
script.load(path)
script.run()
"""

START_QUEUE = """
queue = ordalis.BatchQueue()
queue.on_log(lambda level, text, variable: None)
queue.add(path)
queue.run()
"""


@pytest.mark.parametrize("start, results", [(START_SCRIPT, "endless.odl_"), (START_QUEUE, "BatchQueue_")],
                         ids=["script", "batch_queue"])
def test_leaving_the_interpreter_stops_the_run_and_writes_its_results(tmp_path, start, results):
    endless = tmp_path / "endless.odl"
    endless.write_text("t = new pyticker()\nwhile true do\n  t.Tick()\nendwhile\n")
    child = subprocess.run(
        [sys.executable, "-c", LEAVE_WITHOUT_CLOSE.format(start=start), str(tmp_path), str(endless)],
        cwd=tmp_path, capture_output=True, text=True, timeout=120)  # a queue's results go below cwd
    assert child.returncode == 0, child.stderr
    names = [name for _, _, files in os.walk(tmp_path) for name in files]
    assert any(name.startswith(results) and name.endswith(".xml") for name in names), names
    assert not any(".running" in name for name in names), names
