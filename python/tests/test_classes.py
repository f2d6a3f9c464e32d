"""The classes' operations one by one: each test walks one class (and what it hands out) against
the test scripts or the echo plug-in, reading values back and checking failures' status codes."""
import os
import shutil
import threading

import pytest

import ordalis

HERE = os.path.dirname(os.path.abspath(__file__))
E_NOTIMPL = 0x80004001
E_FAIL = 0x80004005
E_INVALIDARG = 0x80070057
ECHO_TESTERS = "{AE96A215-DD09-45A8-9075-26D1616B16E9}"
ECHO_BATCH_ITEMS = "{5C1D6F0B-3E2A-4B7C-9D8E-1F2A3B4C5D6E}"


@pytest.fixture
def scripts(tmp_path):
    """A private copy of the test scripts, so their results land in tmp_path."""
    shutil.copytree(os.path.join(HERE, "scripts"), tmp_path / "scripts")
    return tmp_path / "scripts"


def status_of(call):
    """The status code of the OrdalisError that [call] raises."""
    with pytest.raises(ordalis.OrdalisError) as error:
        call()
    return error.value.status


def echo_tester_creator():
    creator = ordalis.TesterUtilities().tester_creator(ECHO_TESTERS)
    if creator is None:
        pytest.skip("the echo plug-in is not on ORDALIS_PLUGIN_PATH (CTest sets it)")
    return creator


def test_script_item_records_results_breakpoints_and_its_place(scripts):
    item = ordalis.ScriptItem()  # a free-standing item, as a client makes one by class name
    assert (item.child_count, item.number_of_results, item.parent) == (0, 0, None)
    item.add_result(ordalis.Result.WARNING, 3, 0.25, [1, "two"])
    item.add_result(ordalis.Result.PASSED)
    assert item.number_of_results == 2
    result, iteration, when, taken, values = item.results(0)
    assert (result, iteration, taken, values) == (ordalis.Result.WARNING, 3, 0.25, [1, "two"])
    assert when > 0 and item.results(1)[4] == []
    assert item.result_count(ordalis.Result.WARNING) == 1
    item.set_result_status(ordalis.Result.FAILED)
    assert item.result == ordalis.Result.FAILED
    item.reset_results()
    assert item.number_of_results == 0
    assert status_of(lambda: item.results(0)) == E_INVALIDARG
    assert status_of(lambda: item.child(0)) == E_INVALIDARG

    script = ordalis.Script()
    script.load(str(scripts / "failing.odl"))
    root = script.item
    first, second = root.child(1), root.child(3)
    assert root.children[1] == first and first.parent == root and first != second
    assert root.child_count == len(root.children) == 4
    assert second.file_name.endswith("failing.odl") and second.line == 4
    first.breakpoint = second.breakpoint = True
    assert first.breakpoint and second.breakpoint
    root.clear_all_breakpoints()
    assert not first.breakpoint and not second.breakpoint
    first.current_parent = root
    assert first.current_parent == root
    script.close()


@pytest.mark.parametrize("name, values", [
    ("pause_on_error", [True, False]),
    ("running_continuously", [True, False]),
    ("auto_reset", [True, False]),
    ("version_under_test", ["7.2 beta", ""]),
])
def test_script_settings_read_back(name, values):
    script = ordalis.Script()
    for value in values:
        setattr(script, name, value)
        assert getattr(script, name) == value
    script.close()


def test_script_operations_after_a_run(scripts, tmp_path):
    script = ordalis.Script()
    assert script.load(str(scripts / "failing.odl"))
    assert script.version and script.description
    assert script.status == ordalis.BatchQueueItemStatus.NOT_RUNNING
    assert isinstance(script.manager, ordalis.ApplicationManager) and script.manager.version
    script.set_email_address("")
    script.run()
    assert script.wait(timeout=60)
    names = [script.variable_name(i) for i in range(script.variable_count)]
    assert sorted(names) == ["a", "x"] == sorted(script.variable_names)
    assert dict(script.variable_details(i) for i in range(script.variable_count)) == {"a": "1", "x": "2"}
    assert status_of(lambda: script.variable_name(script.variable_count)) == E_INVALIDARG
    assert script.results_file == script.results_path and os.path.isfile(script.results_file)
    assert script.current_item is not None
    saved = tmp_path / "saved.xml"
    script.save_results(str(saved))
    assert "odl_script_result" in saved.read_text()

    cleared = []
    script.on_results_reset(lambda: cleared.append(True))
    script.reset()
    assert cleared == [True]
    assert script.status == ordalis.BatchQueueItemStatus.NOT_RUNNING
    assert script.item.child(3).number_of_results == 0
    # Run as a batch item: the status tells the verdict once the run has ended.
    script.execute()
    assert script.wait(timeout=60)
    assert script.status == ordalis.BatchQueueItemStatus.FAILED
    script.close()
    assert status_of(script.run) == E_FAIL  # closed


def test_application_manager_settings_and_creators(tmp_path):
    manager = ordalis.ApplicationManager()
    for user in (True, False):
        manager.add_variable(user, "py_setting", "42")
        assert manager.variable_value(user, "py_setting") == "42"
        manager.remove_variable(user, "py_setting")
        assert ("py_setting", "42") not in manager.variables(user)
    manager.smtp_server_name = "mail.example.com"
    manager.email_addresses = "lab@example.com"
    manager.smtp_authentication("tester", "secret")
    assert (manager.smtp_server_name, manager.email_addresses, manager.smtp_authentication_user_name) == (
        "mail.example.com", "lab@example.com", "tester")
    assert isinstance(manager.has_admin_rights(), bool)

    for add, remove, listed, guid in [
        (manager.add_tester_creator, manager.remove_tester_creator, "tester_creators", ECHO_TESTERS),
        (manager.add_batch_queue_item_creator, manager.remove_batch_queue_item_creator,
         "batch_queue_item_creators", ECHO_BATCH_ITEMS),
    ]:
        assert add(guid) and not add(guid)  # a second add finds it there
        assert guid in getattr(manager, listed)
        assert remove(guid) and not remove(guid)
        assert guid not in getattr(manager, listed)
    manager.load_creators()
    creators = manager.all_tester_creators
    assert creators and all(c.number_of_types >= 1 and c.version for c in creators)
    manager.unload_creators()

    assert status_of(lambda: manager.load_results(str(tmp_path / "missing.xml"))) == E_FAIL


def test_batch_results_load_into_a_batch_queue(scripts, tmp_path):
    queue = ordalis.BatchQueue()
    queue.add(str(scripts / "failing.odl"))
    queue.run()
    assert queue.wait_for_finished(1, timeout=120)
    results = queue.results_file_name
    queue.close()
    loaded = ordalis.ApplicationManager().load_results(results)
    assert isinstance(loaded, ordalis.BatchQueue)
    assert loaded.result_count == 1
    assert loaded.result_details(0)[4] is False  # failing.odl did not pass
    loaded.close()


def test_tester_utilities_hand_out_working_testers_and_batch_items(tmp_path):
    utilities = ordalis.TesterUtilities()
    assert utilities.tester_creator("{00000000-0000-0000-0000-000000000000}") is None
    creator = echo_tester_creator()
    assert creator.number_of_types == 1 and creator.version
    tester = creator.create(0)
    assert tester.tester_type == "echo" and tester.version and tester.description
    assert tester.open([]) and tester.status == "Open"
    actions = tester.actions
    assert tester.execute(actions.index("Echo"), [1, "two"]) == (ordalis.Result.PASSED, [1, "two"])
    assert tester.execute(actions.index("Result"), [ordalis.Result.WARNING, 5]) == (ordalis.Result.WARNING, [5])
    assert tester.execute(actions.index("Fail"))[0] == ordalis.Result.FAILED
    assert status_of(lambda: tester.execute(actions.index("Broken"))) == E_FAIL
    assert status_of(lambda: tester.execute(len(actions))) == E_INVALIDARG
    description, inputs, outputs = tester.action_documentation(actions.index("Log"))
    assert description and inputs == ["level", "text"] and outputs == []
    assert tester.constructor_documentation()[1] == ["open"]
    lines = []
    tester.set_trace(lambda level, text: lines.append((level, text)))
    tester.execute(actions.index("Log"), [ordalis.LoggingLevel.WARNING, "from echo"])
    assert lines == [(ordalis.LoggingLevel.WARNING, "from echo")]
    tester.set_trace(None)
    tester.script_directory(str(tmp_path))
    assert tester.number_of_returned_testers >= 1
    assert tester.create_returned_tester(0).tester_type
    assert tester.close()

    items = utilities.batch_queue_item_creator(ECHO_BATCH_ITEMS)
    assert items.version and items.file_types == ["echo"]
    item = items.create(0)
    job = tmp_path / "job.echo"
    job.write_text("log hello from the job\nresult failed\n")
    logged = threading.Event()
    texts = []
    item.execute(str(job), lambda level, text: (texts.append(text), logged.set()))
    assert logged.wait(60) and texts == ["hello from the job"]
    assert (item.version, item.results_file, item.pause_on_error) == ("1.0", "", False)


def test_batch_queue_entries_settings_and_results(scripts, tmp_path):
    queue = ordalis.BatchQueue()
    added, removed, moved = [], [], []
    queue.on_added(added.append)
    queue.on_removed(removed.append)
    queue.on_moved(moved.append)
    failing = queue.add(str(scripts / "failing.odl"), "one@example.com")
    first = queue.add_at(0, str(scripts / "passing.odl"))
    assert queue.ids == [first, failing] == [queue.id(i) for i in range(queue.item_count)]
    assert added == [failing, first]
    assert (queue.position(first), queue.position(failing)) == (0, 1)
    queue.set_position(failing, 0)
    assert queue.ids == [failing, first] and moved
    assert queue.email_addresses(failing) == "one@example.com"
    assert queue.description(failing)
    assert queue.file_type_valid("check.odl") and not queue.file_type_valid("notes.txt")

    runner = queue.item(failing)
    assert os.path.basename(runner.file_name) == "failing.odl"
    runner.email_addresses = "two@example.com"
    assert queue.email_addresses(failing) == "two@example.com"
    assert runner.status == ordalis.BatchQueueItemStatus.NOT_RUNNING
    assert status_of(lambda: queue.item(12345)) == E_INVALIDARG

    for name, value in [("auto_remove", True), ("pause_on_error", True),
                        ("email_enabled", True), ("stop_after_current_item", True), ("auto_reset", True),
                        ("auto_save", True), ("retry_count", 2), ("version_under_test", "9.1")]:
        before = getattr(queue, name)
        setattr(queue, name, value)
        assert getattr(queue, name) == value, name
        setattr(queue, name, before)
        assert getattr(queue, name) == before, name

    saved = tmp_path / "queue.tbq"
    queue.save_as(str(saved))
    assert queue.batch_file_name == str(tmp_path / "queue")
    copy = ordalis.BatchQueue()
    both_added = threading.Event()
    copy.on_added(lambda id: len(copy.ids) == 2 and both_added.set())  # entries come on the queue's thread
    copy.load(str(saved))
    assert both_added.wait(60)
    assert [os.path.basename(copy.file_name(i)) for i in copy.ids] == ["failing.odl", "passing.odl"]
    copy.close()

    queue.run()
    assert queue.wait_for_finished(2, timeout=120)
    assert queue.result_count == 2
    result_id, name, file_name, comment, passed = queue.result_details(0)
    assert result_id == failing and os.path.basename(file_name).startswith("failing.odl") and passed is False
    queue.add_result_comment(0, "looked at")
    assert queue.result_details(0)[3] == "looked at"
    assert status_of(lambda: queue.result_details(2)) == E_INVALIDARG

    queue.remove(first)
    assert removed == [first]
    emptied = threading.Event()
    queue.on_removed(lambda id: queue.item_count == 0 and emptied.set())
    queue.clear()  # carried out by the queue's thread
    assert emptied.wait(60) and queue.item_count == 0
    queue.close()


def test_batch_queue_running_continuously_starts_it_without_auto_remove():
    queue = ordalis.BatchQueue()
    queue.auto_remove = True
    queue.running_continuously = True
    assert queue.running_continuously and not queue.auto_remove
    queue.running_continuously = False
    assert not queue.running_continuously
    queue.close()


def test_script_proxy_key_and_its_script(scripts):
    proxy = ordalis.ScriptProxy()
    proxy.encryption_key = "a key phrase"
    assert proxy.encryption_key == "a key phrase"
    script = proxy.script
    assert isinstance(script, ordalis.Script)
    assert script.load(str(scripts / "failing.odl"))
    assert [c.line for c in script.item.children][-1] == 4
    # The proxy observes its own script for the peer: no Python callbacks, waits or reports.
    assert status_of(lambda: script.on_log(print)) == E_NOTIMPL
    assert status_of(lambda: script.wait(0)) == E_NOTIMPL
    script.close()
    assert proxy.script is not None  # closing the view leaves the proxy's script alone


def test_type_stubs_name_every_public_member():
    """The stubs editors complete from list exactly what each class offers."""
    import ast
    stubs = ast.parse(open(os.path.join(os.path.dirname(ordalis.__file__), "_ordalis.pyi")).read())
    for node in stubs.body:
        if not isinstance(node, ast.ClassDef) or node.name == "OrdalisError":
            continue
        stubbed = {n.name for n in node.body if isinstance(n, ast.FunctionDef)}
        stubbed |= {n.target.id for n in node.body if isinstance(n, ast.AnnAssign)}
        cls = getattr(ordalis._ordalis, node.name)
        offered = {name for name in vars(cls) if not name.startswith("_")}
        stubbed = {name for name in stubbed if not name.startswith("_")}
        assert stubbed == offered, node.name


def test_batch_queue_runner_tells_its_entrys_log_lines(tmp_path):
    """runner.on_log hears each entry's own lines while it runs; on_log(None) stops them."""
    command = tmp_path / "prints.sh"
    command.write_text("echo first line\necho second line\n")
    script = tmp_path / "says.odl"
    script.write_text('x = 7\nprintf("the script says %d", x)\n')
    queue = ordalis.BatchQueue()
    queue.save_as(str(tmp_path / "queue.tbq"))  # results beside it, in tmp_path
    ids = [queue.add(str(command)), queue.add(str(script)), queue.add(str(command))]
    heard = {id: [] for id in ids}
    runners = [queue.item(id) for id in ids]  # kept: a runner's callbacks last as long as it
    for id, runner in zip(ids, runners):
        runner.on_log(lambda level, text, variable, id=id: heard[id].append((variable, text)))
    runners[2].on_log(None)
    with pytest.raises(TypeError):
        runners[0].on_log("not callable")
    queue.set_stop_at_end(True)
    queue.run()
    assert queue.wait_for_finished(3, timeout=60)
    queue.close()
    assert [text for variable, text in heard[ids[0]] if variable == "Batch"][-3:] == [
        "first line", "second line", f"BatchQueueItem::Execute {command} passed"]
    assert ("script", "the script says 7") in heard[ids[1]]
    assert heard[ids[2]] == []
