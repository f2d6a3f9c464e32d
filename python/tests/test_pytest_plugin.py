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
