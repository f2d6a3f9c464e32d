#pragma once
// The automation interfaces of Ordalis as abstract C++ classes. Each interface has the
// operations of its published form in the same order, with the same parameters and status
// results; property getters and setters are get_Name / put_Name. Out-parameters are pointers:
// a null out-pointer gives E_POINTER where the operation says so. Text is UTF-8 in std::string.
// Objects are held by std::shared_ptr; "query interface" is std::dynamic_pointer_cast.
//
// The rules every declaration below follows unless its own comment says otherwise:
// - Objects made by the engine (script, script item, application manager, tester utilities,
//   batch queue, entry runner, script proxy): safe to call from any thread, also while the
//   object's own threads run; each call returns at once and reports failure as a status, never
//   by throwing (only an allocation failure may throw std::bad_alloc).
// - Ownership: texts are borrowed for the call and copied when kept; a std::shared_ptr argument
//   (an array of variants, an object) is shared: the callee may keep it, so the caller does not
//   change it afterwards. Out-parameters belong to the caller, who also owns (or shares) what
//   they receive. A null out-pointer gives E_POINTER.
// - Interfaces a plug-in or client implements (ITester*, ITesterCreator*, IBatchQueueItem*,
//   IBatchQueueItemCreator and the three event interfaces): the comment on each method
//   says which engine thread calls it. An exception thrown out of such a method is caught by
//   the engine and counts as E_FAIL (for an event sink, it is ignored); it never ends the run.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ordalis/api.h"
#include "ordalis/status.h"
#include "ordalis/types.h"
#include "ordalis/variant.h"

namespace ordalis {

class ITrace;
class ITester;
class IScriptItem;
class IScript;
class IApplicationManager;
class IBatchQueueItem;
class IBatchQueueRunner;
class ITesterCreator;
class IBatchQueueItemCreator;

using TextArray = std::vector<std::string>;

// An event source: sinks are called in connection order, outside the source's lock, and a
// sink that throws or fails does not stop the others. Safe to call from any thread, also from
// inside a sink; neither call blocks on an event in progress.
template <typename Sink>
class ORDALIS_API IConnectionPoint {
 public:
  virtual ~IConnectionPoint() = default;
  // Connects [sink] (the source holds it until Unadvise) and gives its [cookie]; E_INVALIDARG
  // for a null sink. It receives the events raised after the call.
  virtual Status Advise(std::shared_ptr<Sink> sink, std::uint32_t* cookie) = 0;
  // Disconnects the sink of [cookie] and lets go of it; E_INVALIDARG for an unknown cookie. An
  // event already on its way on another thread may still reach it once.
  virtual Status Unadvise(std::uint32_t cookie) = 0;
};

// ITrace: the log sink the engine hands to testers (SetTrace) and batch items (Execute).
// Implemented by the engine; a plug-in may keep it as long as it likes.
class ORDALIS_API ITrace : public virtual IUnknown {
 public:
  static constexpr int kDispIdLog = 1;
  // Logs [text] at [level]. Safe to call from any thread, also from threads of the plug-in's
  // own; returns once the line is written and the log's clients have been told. Never throws.
  virtual Status Log(LoggingLevel level, const std::string& text) = 0;
};

// A batch item: one run of one file, implemented by the script object and by batch item
// plug-ins. The queue thread and client threads call it (Status is polled while Execute's work
// goes on), so its methods must be safe to call from any thread and, except Execute and Reset,
// return at once.
class ORDALIS_API IBatchQueueItem : public virtual IUnknown {
 public:
  // Texts for the queue's listing; any thread.
  virtual Status get_Version(std::string* version) = 0;
  virtual Status get_Description(std::string* description) = 0;
  // Runs [file_name], logging to [trace] (the item may keep it). Called on the entry runner's
  // worker thread; may do the work inside the call (blocking that thread) or start it and
  // return. Status must say Running from the moment the work begins.
  virtual Status Execute(const std::string& file_name, std::shared_ptr<ITrace> trace) = 0;
  // Polled by the queue thread, any number of times; must not block.
  virtual Status get_Status(BatchQueueItemStatus* status) = 0;
  // Stops the work; called from a client or the queue thread while Execute may be running on
  // another. Must not wait for the work to end.
  virtual Status Abort() = 0;
  // Clears the results of earlier attempts, before an entry's first attempt: queue thread, or a
  // client calling the runner's Reset. May block while a stopping run ends.
  virtual Status Reset() = 0;
  // Plain property; any thread.
  virtual Status get_PauseOnError(VariantBool* value) = 0;
  virtual Status put_PauseOnError(VariantBool value) = 0;
};

class ORDALIS_API IBatchQueueItem1 : public IBatchQueueItem {
 public:
  // The results document of the latest attempt (empty when none); any thread, at once.
  virtual Status get_ResultsFile(std::string* file) = 0;
  // Where the results go; set by the queue thread before Execute. Any thread, at once.
  virtual Status get_ResultsDirectory(std::string* directory) = 0;
  virtual Status put_ResultsDirectory(const std::string& directory) = 0;
};

class ORDALIS_API IBatchQueueItem2 : public IBatchQueueItem1 {
 public:
  // The version label written into the results; set before Execute. Any thread, at once.
  virtual Status get_VersionUnderTest(std::string* version) = 0;
  virtual Status put_VersionUnderTest(const std::string& version) = 0;
};

// Makes batch items for the file types it lists. Called by whichever thread adds an entry
// (a client's, or the queue thread for a queue file) and by listing commands; any thread.
class ORDALIS_API IBatchQueueItemCreator : public virtual IUnknown {
 public:
  virtual Status get_Version(std::string* version) = 0;
  // A new item for file type [index]; the caller owns it. Must not block for long.
  virtual Status create(std::uint32_t index, std::shared_ptr<IBatchQueueItem>* item) = 0;
  // The file types (".ext") it accepts; must not change while the creator lives.
  virtual Status get_NumberOfFileTypes(std::uint32_t* count) = 0;
  virtual Status get_FileType(std::uint32_t index, std::string* file_type) = 0;
};

// Makes testers. Called from a script's run thread (a `new` statement) and from any thread
// that lists the testers, possibly from several threads at once.
class ORDALIS_API ITesterCreator : public virtual IUnknown {
 public:
  // The number of tester types; must not change while the creator lives.
  virtual Status get_NumberOfTypes(std::uint32_t* count) = 0;
  // A new tester of type [tester_number]; the caller owns it. May throw plugin::Error to say why
  // it cannot (the engine reports the text).
  virtual Status create(std::uint32_t tester_number, std::shared_ptr<ITester>* tester) = 0;
};

class ORDALIS_API ITesterCreator1 : public ITesterCreator {
 public:
  // Any thread, at once.
  virtual Status get_Version(std::string* version) = 0;
};

// A tester: an instrument or service that scripts drive through actions. The engine calls
// Open, Execute, Close, SetTrace and scriptDirectory on the script's run thread, one at a time;
// Abort comes on another thread while one of them runs, and the documentation getters may come
// from any thread at any time (listings, editors).
class ORDALIS_API ITester : public virtual IUnknown {
 public:
  // The action names; any thread, at once, and the same for the tester's lifetime.
  virtual Status get_ActionCount(std::uint32_t* count) = 0;
  virtual Status get_Actions(std::uint32_t action_number, std::string* name) = 0;
  // Performs action [action_number] with [parameters] (shared, read-only) on the run thread;
  // [values] receives the returned values (null when none; the engine owns them afterwards) and
  // [result] the statement's result. May block for as long as the action takes; should end soon
  // after Abort.
  virtual Status Execute(std::uint32_t action_number, VariantArrayPtr parameters,
                         VariantArrayPtr* values, Result* result) = 0;
  // Help texts for action [action_number]; any thread, at once.
  virtual Status ActionDocumentation(std::uint32_t action_number, std::string* description,
                                     TextArray* in_parameters, TextArray* out_parameters) = 0;
  // Opens the instrument with the constructor's [parameters]; run thread, may block (connecting).
  virtual Status Open(VariantArrayPtr parameters, VariantBool* opened) = 0;
  // Closes it when the script is done with the tester; may block (disconnecting).
  virtual Status Close(VariantBool* closed) = 0;
  // Interrupts a running Execute or Open; called from a thread other than the one in it. Must
  // return at once and must not wait for the interrupted call.
  virtual Status Abort() = 0;
  // The tester's type name (as scripts write it) and a status text; any thread, at once.
  virtual Status get_TesterType(std::string* type) = 0;
  virtual Status get_Status(std::string* status) = 0;
  // The trace to log to (shared; keep it, and use it from any thread). Run thread, right after
  // creation.
  virtual Status SetTrace(std::shared_ptr<ITrace> trace) = 0;
};

class ORDALIS_API ITester1 : public ITester {
 public:
  // Any thread, at once.
  virtual Status get_Version(std::string* version) = 0;
  // The folder of the script that made the tester; run thread, before Open.
  virtual Status scriptDirectory(const std::string& dir) = 0;
};

class ORDALIS_API ITester2 : public ITester1 {
 public:
  // Help texts for the tester and its constructor; any thread, at once.
  virtual Status get_Description(std::string* description) = 0;
  virtual Status ConstructorDocumentation(std::string* description, TextArray* in_parameters) = 0;
};

class ORDALIS_API ITester3 : public ITester2 {
 public:
  // How many testers the latest action returned among its values; run thread, after Execute.
  virtual Status get_NumberOfReturnedTesters(std::uint32_t* count) = 0;
  // Returned tester [tester_number]; the caller owns it. Run thread.
  virtual Status createReturnedTester(std::uint32_t tester_number,
                                      std::shared_ptr<ITester>* tester) = 0;
};

// Outgoing interface for log lines (the source interface published as _ITraceEvents),
// implemented by clients. Called on whichever thread logged: the run thread, a tester's own
// thread, a client thread whose call logged (Run, Stop...), an entry's worker. Keep it short:
// the thread that logged waits for it. The returned status is ignored.
class ORDALIS_API ITraceEvents : public virtual IUnknown {
 public:
  // One log line: the file and line of the item being run (empty and 0 when none), the time
  // (seconds since the epoch and the fraction of its second), level, variable name and message.
  virtual Status Log(const std::string& file_name, std::uint32_t line_number, std::int64_t time,
                     double seconds, LoggingLevel level, const std::string& variable_name,
                     const std::string& message) = 0;
  // The log starts afresh (at the start of each run).
  virtual Status LogClear() = 0;
};

// Outgoing interface for execution events (published as _IScriptEvents), implemented by
// clients. Executed and Started come on the script's run thread, which waits for the sink: a
// sink may call the script back but must not wait for the run. ResultsReset and Reset come on
// the thread of the call that cleared or replaced the results. The returned status is ignored.
class ORDALIS_API IScriptEvents : public virtual IUnknown {
 public:
  // The item [script_item_id] has been executed and its result recorded.
  virtual Status Executed(std::uint32_t script_item_id) = 0;
  // Every result of the script has been cleared.
  virtual Status ResultsReset() = 0;
  // A run has begun.
  virtual Status Started() = 0;
  // The tree was replaced or extended by remote control.
  virtual Status Reset() = 0;
};

// The script object (Ordalis.Script). Any thread; the run goes on on the object's own run
// thread, so Run, Step, Pause and Stop only ask for a change and return at once (watch
// get_State or the events for it). Never throws.
class ORDALIS_API IScript : public virtual IUnknown {
 public:
  // Reads and parses [file_name] (and its includes); blocks for the reading. [loaded] says
  // whether the tree has no errors.
  virtual Status Load(const std::string& file_name, VariantBool* loaded) = 0;
  // The root of the loaded tree (shared with the script).
  virtual Status get_Item(std::shared_ptr<IScriptItem>* item) = 0;
  virtual Status get_State(ScriptState* state) = 0;
  // Ask the run thread to stop, run, pause; return at once. Stop also aborts the tester action
  // in progress, from the calling thread.
  virtual Status Stop() = 0;
  virtual Status Run() = 0;
  virtual Status Pause() = 0;
  // The item being run (shared; null before a run).
  virtual Status get_CurrentItem(std::shared_ptr<IScriptItem>* item) = 0;
  // Plain properties, at once.
  virtual Status get_PauseOnError(VariantBool* value) = 0;
  virtual Status put_PauseOnError(VariantBool value) = 0;
  // Setting true also starts a run (as Run).
  virtual Status put_RunningContinuously(VariantBool value) = 0;
  virtual Status get_RunningContinuously(VariantBool* value) = 0;
  // Writes the results document to [file_name]; blocks for the writing.
  virtual Status SaveResults(const std::string& file_name) = 0;
  // The application manager the script uses (shared).
  virtual Status get_Manager(std::shared_ptr<IApplicationManager>* manager) = 0;
  // The script's variables as the run sees them; a value read is the caller's. While a run goes
  // on, a read shows the moment of the call.
  virtual Status get_VariableCount(std::uint32_t* count) = 0;
  virtual Status get_variableName(std::uint32_t index, std::string* name) = 0;
  virtual Status get_VariableValue(const std::string& name, VariantArrayPtr* value) = 0;
  virtual Status put_VariableValue(const std::string& name, VariantArrayPtr value) = 0;
  // Where the results are mailed at the end of a run; at once.
  virtual Status put_EmailAddress(const std::string& addresses) = 0;
  // Runs one statement and pauses; returns at once.
  virtual Status Step() = 0;
  // Answers tester actions from the recording [file_name] (read now, blocking) instead of the
  // testers; refused while a run is in progress.
  virtual Status PlaybackFile(const std::string& file_name) = 0;
  // Plain properties, at once.
  virtual Status get_AutoReset(VariantBool* value) = 0;
  virtual Status put_AutoReset(VariantBool value) = 0;
  virtual Status VariableDetails(std::uint32_t index, std::string* name, std::string* text_value) = 0;
  virtual Status get_VersionUnderTest(std::string* version) = 0;
  virtual Status put_VersionUnderTest(const std::string& version) = 0;
};

// One item of a script's tree. Any thread, at once, never throws; items handed out are shared
// with the tree. Results read while a run records them show the moment of the call.
class ORDALIS_API IScriptItem : public virtual IUnknown {
 public:
  virtual Status get_ChildCount(std::uint32_t* count) = 0;
  virtual Status get_Children(std::uint32_t index, std::shared_ptr<IScriptItem>* child) = 0;
  virtual Status get_Text(std::string* text) = 0;
  virtual Status get_Type(ItemType* type) = 0;
  virtual Status get_lineNumber(std::uint32_t* line) = 0;
  virtual Status get_Parent(std::shared_ptr<IScriptItem>* parent) = 0;
  virtual Status ResetResults() = 0;
  virtual Status get_NumberOfResults(std::uint32_t* count) = 0;
  virtual Status get_CurrentResult(Result* result) = 0;
  virtual Status get_Id(std::uint32_t* id) = 0;
  virtual Status get_ResultCount(Result type, std::uint32_t* count) = 0;
  virtual Status get_ScriptText(std::string* text) = 0;
  // Record results on the item, as the run does.
  virtual Status SetResultStatus(Result result) = 0;
  virtual Status AddResult(Result result, std::uint32_t iteration, double time_taken_sec,
                           VariantArrayPtr parameters) = 0;
  // [values] may be null; it is left null when the record holds no values.
  virtual Status Results(std::uint32_t index, Result* result, std::uint32_t* iteration,
                         std::int64_t* time, double* time_taken_sec, VariantArrayPtr* values) = 0;
  // Breakpoints take effect at the run thread's next statement.
  virtual Status put_BreakpointSet(VariantBool value) = 0;
  virtual Status get_BreakpointSet(VariantBool* value) = 0;
  virtual Status ClearAllBreakpoints() = 0;
  virtual Status get_CurrentParent(std::shared_ptr<IScriptItem>* item) = 0;
  virtual Status put_CurrentParent(std::shared_ptr<IScriptItem> item) = 0;
  virtual Status get_FileName(std::string* file_name) = 0;
};

// The process's settings (Ordalis.ApplicationManager): variables, creator lists, mail. Any
// thread, never throws. Operations that change settings write the settings file at once and
// block for it (and for another process's lock on it); reads come from memory.
class ORDALIS_API IApplicationManager : public virtual IUnknown {
 public:
  virtual Status AddSystemVariable(const std::string& name, const std::string& value) = 0;
  virtual Status RemoveSystemVariable(const std::string& name) = 0;
  virtual Status get_SystemVariableValue(const std::string& name, std::string* value) = 0;
  virtual Status get_SystemVariableCount(std::uint32_t* count) = 0;
  virtual Status get_SystemVariableNames(std::uint32_t index, std::string* name) = 0;
  virtual Status AddTesterCreator(const std::string& guid, VariantBool* added) = 0;
  virtual Status RemoveTesterCreator(const std::string& guid, VariantBool* removed) = 0;
  virtual Status get_TesterCreatorCount(std::uint32_t* count) = 0;
  virtual Status get_TesterCreators(std::uint32_t index, std::string* guid) = 0;
  virtual Status get_SMTPServerName(std::string* name) = 0;
  virtual Status put_SMTPServerName(const std::string& name) = 0;
  virtual Status smtpAuthentication(const std::string& user_name, const std::string& password) = 0;
  virtual Status get_smtpAuthenticationUserName(std::string* user_name) = 0;
  virtual Status get_EmailAddresses(std::string* addresses) = 0;
  virtual Status put_EmailAddresses(const std::string& addresses) = 0;
  // The creators the catalogue knows (shared); loading their modules may block.
  virtual Status get_AllTestCreatorsCount(std::uint32_t* count) = 0;
  virtual Status get_AllTestCreators(std::uint32_t index, std::shared_ptr<ITesterCreator>* creator) = 0;
  virtual Status get_Version(std::string* version) = 0;
  virtual Status get_BuildTimeStamp(std::string* stamp) = 0;
  // (Re)loads or drops the creator catalogue; blocks while modules load.
  virtual Status LoadCreators() = 0;
  virtual Status UnloadCreators() = 0;
  virtual Status AddBatchQueueItemCreator(const std::string& guid, VariantBool* added) = 0;
  virtual Status get_BatchQueueItemCreatorCount(std::uint32_t* count) = 0;
  virtual Status get_BatchQueueItemCreatorCreators(std::uint32_t index, std::string* guid) = 0;
  virtual Status RemoveBatchQueueItemCreator(const std::string& guid, VariantBool* removed) = 0;
  virtual Status AddUserVariable(const std::string& name, const std::string& value) = 0;
  virtual Status RemoveUserVariable(const std::string& name) = 0;
  virtual Status get_UserVariableValue(const std::string& name, std::string* value) = 0;
  virtual Status get_UserVariableCount(std::uint32_t* count) = 0;
  virtual Status get_UserVariableNames(std::uint32_t index, std::string* name) = 0;
  // Reads a results file (blocking) into a new object the caller owns: a batch queue for batch
  // results, null otherwise.
  virtual Status LoadResults(const std::string& file_name, std::shared_ptr<IUnknown>* results) = 0;
};

class ORDALIS_API IApplicationManager1 : public IApplicationManager {
 public:
  // Whether the machine-wide settings can be written; checks the file system.
  virtual Status HasAdminRights(VariantBool* has_rights) = 0;
};

// Helpers for testers and clients (Ordalis.TesterUtilities). Any thread, never throws.
class ORDALIS_API ITesterUtilities : public virtual IUnknown {
 public:
  // Formats [parameters] (copied) with the format [format_index]; at once.
  virtual Status Format(std::uint32_t format_index, VariantArrayPtr parameters, std::string* text) = 0;
  // Parses script-literal text into values the caller owns; at once.
  virtual Status VariableValue(const std::string& value, VariantArrayPtr* values) = 0;
  // A new creator the caller owns, made by the module registered under [guid]; blocks while the
  // module loads.
  virtual Status TesterCreator(const std::string& guid, std::shared_ptr<ITesterCreator>* creator) = 0;
};

class ORDALIS_API ITesterUtilities1 : public ITesterUtilities {
 public:
  // As TesterCreator, for batch item creators.
  virtual Status BatchQueueItemCreator(const std::string& guid,
                                       std::shared_ptr<IBatchQueueItemCreator>* creator) = 0;
};

// Outgoing interface of the batch queue (published as _IBatchQueueEvents), implemented by
// clients; each event carries an entry id. Started, Finished and the Removed of AutoRemove and
// Clear come on the queue thread; Added, Moved and the Removed of Remove on the thread of the
// client call (Added also on the queue thread, for entries of a queue file). No queue lock is
// held: a sink may call the queue back. The returned status is ignored.
class ORDALIS_API IBatchQueueEvents : public virtual IUnknown {
 public:
  virtual Status Started(std::uint32_t id) = 0;
  virtual Status Finished(std::uint32_t id) = 0;
  virtual Status Added(std::uint32_t id) = 0;
  virtual Status Removed(std::uint32_t id) = 0;
  virtual Status Moved(std::uint32_t id) = 0;
};

// The event sources of one object, as a COM client finds them through IConnectionPointContainer.
// Offered by the script object (Ordalis.Script: script and trace events), the batch queue
// (Ordalis.BatchQueue: batch-queue and trace events) and the queue's entry runners (the runner
// of IBatchQueue::get_Item: trace events carrying the entry's log lines while it runs).
//
//   std::shared_ptr<IConnectionPoint<IScriptEvents>> point;
//   auto container = std::dynamic_pointer_cast<IConnectionPointContainer>(object);
//   if (container && container->FindConnectionPoint(&point) == S_OK) point->Advise(sink, &cookie);
//
// Each overload gives the source of one outgoing interface: S_OK and the source, which keeps the
// object's event machinery alive while it is held; E_NOINTERFACE (and null) when the object has
// no source of that interface; E_POINTER for a null [point]. Safe to call from any thread; does
// not block and does not throw. Events are raised on the engine's worker threads (a script's run
// thread, a queue's thread, an item's own threads) and, for some, on the thread of the client
// call that caused them; a sink may call back into the object but must not wait there for another
// event of the same object.
class ORDALIS_API IConnectionPointContainer : public virtual IUnknown {
 public:
  virtual Status FindConnectionPoint(std::shared_ptr<IConnectionPoint<IScriptEvents>>* point) = 0;
  virtual Status FindConnectionPoint(std::shared_ptr<IConnectionPoint<ITraceEvents>>* point) = 0;
  virtual Status FindConnectionPoint(std::shared_ptr<IConnectionPoint<IBatchQueueEvents>>* point) = 0;
};

// Connects [sink] to the source of [Sink] events of [object]: S_OK and the [cookie] that
// Unadvise takes; E_NOINTERFACE when the object has no such source. Unadvise(object, cookie)
// disconnects it; a sink disconnected while an event is on its way may still receive that one.
template <typename Sink>
Status Advise(const std::shared_ptr<IUnknown>& object, std::shared_ptr<Sink> sink, std::uint32_t* cookie) {
  auto container = std::dynamic_pointer_cast<IConnectionPointContainer>(object);
  if (!container) return E_NOINTERFACE;
  std::shared_ptr<IConnectionPoint<Sink>> point;
  Status status = container->FindConnectionPoint(&point);
  if (status != S_OK || !point) return status == S_OK ? E_NOINTERFACE : status;
  return point->Advise(std::move(sink), cookie);
}

template <typename Sink>
Status Unadvise(const std::shared_ptr<IUnknown>& object, std::uint32_t cookie) {
  auto container = std::dynamic_pointer_cast<IConnectionPointContainer>(object);
  if (!container) return E_NOINTERFACE;
  std::shared_ptr<IConnectionPoint<Sink>> point;
  Status status = container->FindConnectionPoint(&point);
  if (status != S_OK || !point) return status == S_OK ? E_NOINTERFACE : status;
  return point->Unadvise(cookie);
}

// The queue's handle on one entry (IBatchQueue::get_Item), shared with the queue. Any thread,
// never throws: an exception of the item becomes E_FAIL. Calls forwarded to the item block as
// the item does.
class ORDALIS_API IBatchQueueRunner : public virtual IUnknown {
 public:
  virtual Status get_Version(std::string* version) = 0;
  virtual Status get_Description(std::string* description) = 0;
  // Starts the item on a worker thread of its own and returns at once.
  virtual Status Execute() = 0;
  virtual Status get_Status(BatchQueueItemStatus* status) = 0;
  virtual Status Abort() = 0;
  virtual Status put_EmailAddresses(const std::string& addresses) = 0;
  virtual Status get_EmailAddresses(std::string* addresses) = 0;
  // Replaces the trace handed to the item (shared; kept).
  virtual Status SetTrace(std::shared_ptr<ITrace> trace) = 0;
  // Setting the file of a script entry loads the script (blocking for the reading).
  virtual Status get_FileName(std::string* file_name) = 0;
  virtual Status put_FileName(const std::string& file_name) = 0;
  virtual Status Reset() = 0;
  // The entry's item (shared).
  virtual Status get_Item(std::shared_ptr<IBatchQueueItem>* item) = 0;
  virtual Status get_PauseOnError(VariantBool* value) = 0;
  virtual Status put_PauseOnError(VariantBool value) = 0;
  virtual Status get_ResultsFile(std::string* file) = 0;
  virtual Status get_ResultsDirectory(std::string* directory) = 0;
  virtual Status put_ResultsDirectory(const std::string& directory) = 0;
  virtual Status get_VersionUnderTest(std::string* version) = 0;
  virtual Status put_VersionUnderTest(const std::string& version) = 0;
};

// The batch queue (Ordalis.BatchQueue). Any thread, never throws. The entries run on the
// queue's own thread: Run, Pause, Stop, Step, Clear and Reset only ask for a change and return
// at once (the events tell when it happens). Load, SaveAs and Save, and every change of the
// entry list while AutoSave is on, block for the queue file.
class ORDALIS_API IBatchQueue : public virtual IUnknown {
 public:
  // Adding makes the entry's item (a script entry is loaded, blocking for the reading).
  virtual Status Add(const std::string& file_name, const std::string& email_addresses, std::uint32_t* id) = 0;
  virtual Status Remove(std::uint32_t id) = 0;
  virtual Status get_ItemCount(std::uint32_t* count) = 0;
  // The entry's runner (shared with the queue).
  virtual Status get_Item(std::uint32_t id, std::shared_ptr<IBatchQueueRunner>* runner) = 0;
  virtual Status get_AutoRemove(VariantBool* value) = 0;
  virtual Status put_AutoRemove(VariantBool value) = 0;
  virtual Status Stop() = 0;
  virtual Status Run() = 0;
  virtual Status Pause() = 0;
  virtual Status get_PauseOnError(VariantBool* value) = 0;
  virtual Status put_PauseOnError(VariantBool value) = 0;
  virtual Status get_State(BatchQueueState* state) = 0;
  virtual Status put_RunningContinuously(VariantBool value) = 0;
  virtual Status get_RunningContinuously(VariantBool* value) = 0;
  virtual Status Clear() = 0;
  virtual Status Reset() = 0;
  virtual Status FileTypeValid(const std::string& file_name, VariantBool* valid) = 0;
  virtual Status get_Id(std::uint32_t index, std::uint32_t* id) = 0;
  virtual Status get_FileName(std::uint32_t id, std::string* file_name) = 0;
  virtual Status get_EmailAddresses(std::uint32_t id, std::string* addresses) = 0;
  virtual Status get_Description(std::uint32_t id, std::string* description) = 0;
  virtual Status get_Status(std::uint32_t id, BatchQueueItemStatus* status) = 0;
  // The runner's Abort; blocks as the item's Abort does.
  virtual Status Abort(std::uint32_t id) = 0;
  virtual Status get_BatchFileName(std::string* file_name) = 0;
  virtual Status Load(const std::string& file_name) = 0;
  virtual Status SaveAs(const std::string& file_name) = 0;
  virtual Status Save() = 0;
  virtual Status get_EmailEnabled(VariantBool* value) = 0;
  virtual Status put_EmailEnabled(VariantBool value) = 0;
  virtual Status get_StopAfterCurrentItem(VariantBool* value) = 0;
  virtual Status put_StopAfterCurrentItem(VariantBool value) = 0;
  virtual Status get_AutoReset(VariantBool* value) = 0;
  virtual Status put_AutoReset(VariantBool value) = 0;
  virtual Status put_Position(std::uint32_t id, std::uint32_t position) = 0;
  virtual Status get_Position(std::uint32_t id, std::uint32_t* position) = 0;
  virtual Status AddAt(std::uint32_t position, const std::string& file_name,
                       const std::string& email_addresses, std::uint32_t* id) = 0;
  virtual Status get_RetryCount(std::uint32_t* count) = 0;
  virtual Status put_RetryCount(std::uint32_t count) = 0;
  virtual Status get_AutoSave(VariantBool* value) = 0;
  virtual Status put_AutoSave(VariantBool value) = 0;
  virtual Status get_ResultsFileName(std::string* file_name) = 0;
  virtual Status get_ResultCount(std::uint32_t* count) = 0;
  virtual Status ResultDetails(std::uint32_t index, std::uint32_t* id, std::string* name,
                               std::string* file_name, std::string* comment, VariantBool* passed) = 0;
  virtual Status AddResultComment(std::uint32_t index, const std::string& comment) = 0;
  virtual Status get_VersionUnderTest(std::string* version) = 0;
  virtual Status put_VersionUnderTest(const std::string& version) = 0;
  virtual Status Step() = 0;
  virtual Status put_StopAtEnd(VariantBool value) = 0;
};

// Serves a script to a remote peer (Ordalis.ScriptProxy). Any thread, never throws; the link
// and the peer's commands are served on the proxy's own threads.
class ORDALIS_API IScriptProxy : public virtual IUnknown {
 public:
  // The script the proxy serves (shared).
  virtual Status get_Script(std::shared_ptr<IScript>* script) = 0;
  // Read or write the proxy's settings file; block for it. Load also reopens the link.
  virtual Status Load(const std::string& file_name) = 0;
  virtual Status SaveAs(const std::string& file_name) = 0;
  virtual Status Save() = 0;
  // The link's kind and parameters. Setting them closes the old link and opens the new one,
  // blocking until it is open or has failed.
  virtual Status GetSerialParameters(std::string* type, std::string* parameters) = 0;
  virtual Status SetSerialParameters(const std::string& type, const std::string& parameters) = 0;
  // The link's key; a change may wait for the link to take it.
  virtual Status put_EncryptionKey(const std::string& key) = 0;
  virtual Status get_EncryptionKey(std::string* key) = 0;
};

}  // namespace ordalis
