#pragma once
// The automation interfaces of Ordalis as abstract C++ classes. Each interface has the
// operations of its published form in the same order, with the same parameters and status
// results; property getters and setters are get_Name / put_Name. Out-parameters are pointers:
// a null out-pointer gives E_POINTER where the operation says so. Text is UTF-8 in std::string.
// Objects are held by std::shared_ptr; "query interface" is std::dynamic_pointer_cast.
//
// All operations of objects made by the engine are safe to call from any thread unless the
// operation's own documentation says otherwise.

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
// sink that throws or fails does not stop the others. Safe to call from any thread.
template <typename Sink>
class ORDALIS_API IConnectionPoint {
 public:
  virtual ~IConnectionPoint() = default;
  virtual Status Advise(std::shared_ptr<Sink> sink, std::uint32_t* cookie) = 0;
  virtual Status Unadvise(std::uint32_t cookie) = 0;
};

// ITrace: the log sink handed to testers and batch items.
class ORDALIS_API ITrace : public virtual IUnknown {
 public:
  static constexpr int kDispIdLog = 1;
  virtual Status Log(LoggingLevel level, const std::string& text) = 0;
};

class ORDALIS_API IBatchQueueItem : public virtual IUnknown {
 public:
  virtual Status get_Version(std::string* version) = 0;
  virtual Status get_Description(std::string* description) = 0;
  virtual Status Execute(const std::string& file_name, std::shared_ptr<ITrace> trace) = 0;
  virtual Status get_Status(BatchQueueItemStatus* status) = 0;
  virtual Status Abort() = 0;
  virtual Status Reset() = 0;
  virtual Status get_PauseOnError(VariantBool* value) = 0;
  virtual Status put_PauseOnError(VariantBool value) = 0;
};

class ORDALIS_API IBatchQueueItem1 : public IBatchQueueItem {
 public:
  virtual Status get_ResultsFile(std::string* file) = 0;
  virtual Status get_ResultsDirectory(std::string* directory) = 0;
  virtual Status put_ResultsDirectory(const std::string& directory) = 0;
};

class ORDALIS_API IBatchQueueItem2 : public IBatchQueueItem1 {
 public:
  virtual Status get_VersionUnderTest(std::string* version) = 0;
  virtual Status put_VersionUnderTest(const std::string& version) = 0;
};

class ORDALIS_API IBatchQueueItemCreator : public virtual IUnknown {
 public:
  virtual Status get_Version(std::string* version) = 0;
  virtual Status create(std::uint32_t index, std::shared_ptr<IBatchQueueItem>* item) = 0;
  virtual Status get_NumberOfFileTypes(std::uint32_t* count) = 0;
  virtual Status get_FileType(std::uint32_t index, std::string* file_type) = 0;
};

class ORDALIS_API ITesterCreator : public virtual IUnknown {
 public:
  virtual Status get_NumberOfTypes(std::uint32_t* count) = 0;
  virtual Status create(std::uint32_t tester_number, std::shared_ptr<ITester>* tester) = 0;
};

class ORDALIS_API ITesterCreator1 : public ITesterCreator {
 public:
  virtual Status get_Version(std::string* version) = 0;
};

class ORDALIS_API ITester : public virtual IUnknown {
 public:
  virtual Status get_ActionCount(std::uint32_t* count) = 0;
  virtual Status get_Actions(std::uint32_t action_number, std::string* name) = 0;
  // Performs action [action_number]; [values] receives the returned values (null when none).
  virtual Status Execute(std::uint32_t action_number, VariantArrayPtr parameters,
                         VariantArrayPtr* values, Result* result) = 0;
  virtual Status ActionDocumentation(std::uint32_t action_number, std::string* description,
                                     TextArray* in_parameters, TextArray* out_parameters) = 0;
  virtual Status Open(VariantArrayPtr parameters, VariantBool* opened) = 0;
  virtual Status Close(VariantBool* closed) = 0;
  // Interrupts a running Execute; called from a thread other than the one in Execute.
  virtual Status Abort() = 0;
  virtual Status get_TesterType(std::string* type) = 0;
  virtual Status get_Status(std::string* status) = 0;
  virtual Status SetTrace(std::shared_ptr<ITrace> trace) = 0;
};

class ORDALIS_API ITester1 : public ITester {
 public:
  virtual Status get_Version(std::string* version) = 0;
  virtual Status scriptDirectory(const std::string& dir) = 0;
};

class ORDALIS_API ITester2 : public ITester1 {
 public:
  virtual Status get_Description(std::string* description) = 0;
  virtual Status ConstructorDocumentation(std::string* description, TextArray* in_parameters) = 0;
};

class ORDALIS_API ITester3 : public ITester2 {
 public:
  virtual Status get_NumberOfReturnedTesters(std::uint32_t* count) = 0;
  virtual Status createReturnedTester(std::uint32_t tester_number,
                                      std::shared_ptr<ITester>* tester) = 0;
};

// Outgoing interface for log lines (the source interface published as _ITraceEvents).
class ORDALIS_API ITraceEvents : public virtual IUnknown {
 public:
  virtual Status Log(const std::string& file_name, std::uint32_t line_number, std::int64_t time,
                     double seconds, LoggingLevel level, const std::string& variable_name,
                     const std::string& message) = 0;
  virtual Status LogClear() = 0;
};

// Outgoing interface for execution events (published as _IScriptEvents).
class ORDALIS_API IScriptEvents : public virtual IUnknown {
 public:
  virtual Status Executed(std::uint32_t script_item_id) = 0;
  virtual Status ResultsReset() = 0;
  virtual Status Started() = 0;
  virtual Status Reset() = 0;
};

class ORDALIS_API IScript : public virtual IUnknown {
 public:
  virtual Status Load(const std::string& file_name, VariantBool* loaded) = 0;
  virtual Status get_Item(std::shared_ptr<IScriptItem>* item) = 0;
  virtual Status get_State(ScriptState* state) = 0;
  virtual Status Stop() = 0;
  virtual Status Run() = 0;
  virtual Status Pause() = 0;
  virtual Status get_CurrentItem(std::shared_ptr<IScriptItem>* item) = 0;
  virtual Status get_PauseOnError(VariantBool* value) = 0;
  virtual Status put_PauseOnError(VariantBool value) = 0;
  virtual Status put_RunningContinuously(VariantBool value) = 0;
  virtual Status get_RunningContinuously(VariantBool* value) = 0;
  virtual Status SaveResults(const std::string& file_name) = 0;
  virtual Status get_Manager(std::shared_ptr<IApplicationManager>* manager) = 0;
  virtual Status get_VariableCount(std::uint32_t* count) = 0;
  virtual Status get_variableName(std::uint32_t index, std::string* name) = 0;
  virtual Status get_VariableValue(const std::string& name, VariantArrayPtr* value) = 0;
  virtual Status put_VariableValue(const std::string& name, VariantArrayPtr value) = 0;
  virtual Status put_EmailAddress(const std::string& addresses) = 0;
  virtual Status Step() = 0;
  virtual Status PlaybackFile(const std::string& file_name) = 0;
  virtual Status get_AutoReset(VariantBool* value) = 0;
  virtual Status put_AutoReset(VariantBool value) = 0;
  virtual Status VariableDetails(std::uint32_t index, std::string* name, std::string* text_value) = 0;
  virtual Status get_VersionUnderTest(std::string* version) = 0;
  virtual Status put_VersionUnderTest(const std::string& version) = 0;
};

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
  virtual Status SetResultStatus(Result result) = 0;
  virtual Status AddResult(Result result, std::uint32_t iteration, double time_taken_sec,
                           VariantArrayPtr parameters) = 0;
  // [values] may be null; it is left null when the record holds no values.
  virtual Status Results(std::uint32_t index, Result* result, std::uint32_t* iteration,
                         std::int64_t* time, double* time_taken_sec, VariantArrayPtr* values) = 0;
  virtual Status put_BreakpointSet(VariantBool value) = 0;
  virtual Status get_BreakpointSet(VariantBool* value) = 0;
  virtual Status ClearAllBreakpoints() = 0;
  virtual Status get_CurrentParent(std::shared_ptr<IScriptItem>* item) = 0;
  virtual Status put_CurrentParent(std::shared_ptr<IScriptItem> item) = 0;
  virtual Status get_FileName(std::string* file_name) = 0;
};

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
  virtual Status get_AllTestCreatorsCount(std::uint32_t* count) = 0;
  virtual Status get_AllTestCreators(std::uint32_t index, std::shared_ptr<ITesterCreator>* creator) = 0;
  virtual Status get_Version(std::string* version) = 0;
  virtual Status get_BuildTimeStamp(std::string* stamp) = 0;
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
  virtual Status LoadResults(const std::string& file_name, std::shared_ptr<IUnknown>* results) = 0;
};

class ORDALIS_API IApplicationManager1 : public IApplicationManager {
 public:
  virtual Status HasAdminRights(VariantBool* has_rights) = 0;
};

class ORDALIS_API ITesterUtilities : public virtual IUnknown {
 public:
  virtual Status Format(std::uint32_t format_index, VariantArrayPtr parameters, std::string* text) = 0;
  virtual Status VariableValue(const std::string& value, VariantArrayPtr* values) = 0;
  virtual Status TesterCreator(const std::string& guid, std::shared_ptr<ITesterCreator>* creator) = 0;
};

class ORDALIS_API ITesterUtilities1 : public ITesterUtilities {
 public:
  virtual Status BatchQueueItemCreator(const std::string& guid,
                                       std::shared_ptr<IBatchQueueItemCreator>* creator) = 0;
};

// Outgoing interface of the batch queue (published as _IBatchQueueEvents).
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

class ORDALIS_API IBatchQueueRunner : public virtual IUnknown {
 public:
  virtual Status get_Version(std::string* version) = 0;
  virtual Status get_Description(std::string* description) = 0;
  virtual Status Execute() = 0;
  virtual Status get_Status(BatchQueueItemStatus* status) = 0;
  virtual Status Abort() = 0;
  virtual Status put_EmailAddresses(const std::string& addresses) = 0;
  virtual Status get_EmailAddresses(std::string* addresses) = 0;
  virtual Status SetTrace(std::shared_ptr<ITrace> trace) = 0;
  virtual Status get_FileName(std::string* file_name) = 0;
  virtual Status put_FileName(const std::string& file_name) = 0;
  virtual Status Reset() = 0;
  virtual Status get_Item(std::shared_ptr<IBatchQueueItem>* item) = 0;
  virtual Status get_PauseOnError(VariantBool* value) = 0;
  virtual Status put_PauseOnError(VariantBool value) = 0;
  virtual Status get_ResultsFile(std::string* file) = 0;
  virtual Status get_ResultsDirectory(std::string* directory) = 0;
  virtual Status put_ResultsDirectory(const std::string& directory) = 0;
  virtual Status get_VersionUnderTest(std::string* version) = 0;
  virtual Status put_VersionUnderTest(const std::string& version) = 0;
};

class ORDALIS_API IBatchQueue : public virtual IUnknown {
 public:
  virtual Status Add(const std::string& file_name, const std::string& email_addresses, std::uint32_t* id) = 0;
  virtual Status Remove(std::uint32_t id) = 0;
  virtual Status get_ItemCount(std::uint32_t* count) = 0;
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

class ORDALIS_API IScriptProxy : public virtual IUnknown {
 public:
  virtual Status get_Script(std::shared_ptr<IScript>* script) = 0;
  virtual Status Load(const std::string& file_name) = 0;
  virtual Status SaveAs(const std::string& file_name) = 0;
  virtual Status Save() = 0;
  virtual Status GetSerialParameters(std::string* type, std::string* parameters) = 0;
  virtual Status SetSerialParameters(const std::string& type, const std::string& parameters) = 0;
  virtual Status put_EncryptionKey(const std::string& key) = 0;
  virtual Status get_EncryptionKey(std::string* key) = 0;
};

}  // namespace ordalis
