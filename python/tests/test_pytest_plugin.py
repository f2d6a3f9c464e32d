"""pytest collects .odl scripts through the plug-in, reports verdicts, failing lines and
named results, and takes --odl-var."""
import os
import shutil

HERE = os.path.dirname(os.path.abspath(__file__))


def _copy_scripts(pytester):
    for name in ("passing.odl", "failing.odl"):
        shutil.copy(os.path.join(HERE, "scripts", name), pytester.path / name)
    (pytester.path / "lib").mkdir()
    shutil.copy(os.path.join(HERE, "scripts", "lib", "helper.odl"), pytester.path / "lib")


def test_scripts_pass_and_fail_by_their_verdict(pytester):
    _copy_scripts(pytester)
    junit = pytester.path / "junit.xml"
    result = pytester.runpytest_subprocess("-p", "ordalis.pytest_plugin", "--odl-var", "limit=10",
                                           f"--junitxml={junit}")
    result.assert_outcomes(passed=1, failed=1)
    result.stdout.fnmatch_lines(["*failing.odl: Failed*", "*failing.odl(4)*", '*result "second": Failed*'])
    text = junit.read_text()
    assert 'name="odl_result:within limit" value="Passed"' in text
    assert "odl_report" in text


def test_selection_and_variables(pytester):
    _copy_scripts(pytester)
    result = pytester.runpytest_subprocess("-p", "ordalis.pytest_plugin", "-k", "passing",
                                           "--odl-var", "limit=4")
    result.assert_outcomes(failed=1, deselected=1)
    result = pytester.runpytest_subprocess("-p", "ordalis.pytest_plugin", "--odl-var", "limit")
    assert result.ret != 0
    result.stderr.fnmatch_lines(["*--odl-var needs NAME=VALUE*"])


# A Python tester whose action raises, and scripts with a named result each way.
_RAISING_TESTER = '''
import ordalis

@ordalis.tester("relay")
class Relay:
    def Close(self):
        raise ValueError("the relay is stuck")
'''


def _write(pytester, scripts):
    for name, text in scripts.items():
        path = pytester.path / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(text)


def test_node_ids_and_named_results(pytester):
    _write(pytester, {"power/supply.odl": 'result "3.3 V rail" a = 1\nresult "5 V rail" if a == 2 then passed '
                                          'else failed endif\n'})
    result = pytester.runpytest_subprocess("-p", "ordalis.pytest_plugin", "--collect-only", "-q")
    result.stdout.fnmatch_lines(["power/supply.odl"])
    assert "supply.odl::" not in result.stdout.str()
    cases = [
        (["-k", "3.3"], {"passed": 1, "deselected": 2}),
        (["-k", "rail"], {"passed": 1, "failed": 1, "deselected": 1}),
        ([], {"passed": 1, "failed": 2}),
    ]
    for options, outcomes in cases:
        result = pytester.runpytest_subprocess("-p", "ordalis.pytest_plugin", "--odl-named-results", *options)
        result.assert_outcomes(**outcomes)
    result.stdout.fnmatch_lines(['*result "5 V rail": Failed*', '*power/supply.odl::5 V rail*'])


def test_failures_in_one_line(pytester, monkeypatch):
    _write(pytester, {"relay_tester.py": _RAISING_TESTER,
                      "relay.odl": "r = new relay()\nr.Close()\n",
                      "forever.odl": "x = 1\nwhile x == 1 do\n  x = 1\nendwhile\n"})
    monkeypatch.setenv("ORDALIS_PYTHON_TESTERS", "relay_tester")
    monkeypatch.setenv("PYTHONPATH", os.pathsep.join(filter(None, [str(pytester.path), os.environ.get("PYTHONPATH")])))
    result = pytester.runpytest_subprocess("-p", "ordalis.pytest_plugin", "--odl-timeout", "0.5")
    result.assert_outcomes(failed=2)
    output = result.stdout.str()
    result.stdout.fnmatch_lines(["*forever.odl did not end within 0.5 s, in *forever.odl(*): *",
                                 "*relay.Close raised ValueError: the relay is stuck*"])
    assert "Traceback" not in output and "site-packages" not in output and "_pytest" not in output


def test_script_and_queue_are_context_managers(tmp_path):
    import ordalis
    script_path = tmp_path / "one.odl"
    script_path.write_text("x = 1\n")
    with ordalis.Script() as script:
        assert script.load(str(script_path))
        assert type(script.result) is ordalis.Result and type(script.item.result) is ordalis.Result
    with ordalis.BatchQueue() as queue:
        assert queue is not None
