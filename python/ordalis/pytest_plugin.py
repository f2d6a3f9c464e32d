"""pytest collects Ordalis scripts: every `.odl` file under the given paths is a test item.

The item passes when the script's verdict is Passed. A failing item's text lists the failing
statements as `file(line): Failed: text — values`; the named results of the run are added to
the report as properties (`odl_result:<name>` = result word), so JUnit output shows them, and the
results document and HTML report are attached as `odl_results` / `odl_report`.

    pytest tests/                      # runs test_*.py and every *.odl file
    pytest tests/ -k supply            # pytest's selection applies
    pytest tests/ --odl-var LIMIT=5    # a user variable for every script (script-literal text)

Enabled automatically when the package is installed (entry point `pytest11`); from a source
tree use `pytest -p ordalis.pytest_plugin`. Scripts under a folder `lib` (include files) are not
collected, nor any when `--odl-no-collect` is given.
"""

from __future__ import annotations

import pytest

import ordalis

_RESULT_WORDS = {
    ordalis.Result.PASSED: "Passed", ordalis.Result.FAILED: "Failed",
    ordalis.Result.NOT_IMPLEMENTED: "Not Implemented", ordalis.Result.WARNING: "Warning",
    ordalis.Result.ERROR: "Error", ordalis.Result.NOT_RUN: "Not Run",
    ordalis.Result.ABORTED: "Aborted",
}


def pytest_addoption(parser):
    group = parser.getgroup("ordalis", "Ordalis scripts")
    group.addoption("--odl-var", action="append", default=[], metavar="NAME=VALUE",
                    help="a user variable for every .odl script (VALUE is script-literal text: "
                         "5, \"text\", 1,2); may be repeated")
    group.addoption("--odl-results-dir", default=None, metavar="DIR",
                    help="write the scripts' results into DIR instead of <script dir>/Results")
    group.addoption("--odl-timeout", type=float, default=None, metavar="SECONDS",
                    help="stop a script that runs longer than this and fail it")
    group.addoption("--odl-no-collect", action="store_true",
                    help="do not collect .odl files as tests")


def _variables(config):
    variables = {}
    for text in config.getoption("odl_var"):
        name, equals, value = text.partition("=")
        if not equals or not name:
            raise pytest.UsageError(f"--odl-var needs NAME=VALUE, got {text!r}")
        variables[name] = value
    return variables


def pytest_configure(config):
    _variables(config)  # a malformed --odl-var is a usage error before anything runs


def pytest_collect_file(parent, file_path):
    if file_path.suffix.lower() != ".odl" or parent.config.getoption("odl_no_collect"):
        return None
    if "lib" in file_path.parent.parts[-1:]:
        return None
    return OdlFile.from_parent(parent, path=file_path)


class OdlFile(pytest.File):
    def collect(self):
        yield OdlItem.from_parent(self, name=self.path.name)


class OdlFailure(Exception):
    def __init__(self, result: "ordalis.RunResult"):
        super().__init__(result.verdict.name)
        self.result = result


class OdlItem(pytest.Item):
    def runtest(self):
        config = self.config
        result = ordalis.run(str(self.path), results_directory=config.getoption("odl_results_dir"),
                             timeout=config.getoption("odl_timeout"), literals=_variables(config))
        for row in result.named_results:
            self.user_properties.append((f"odl_result:{row.name}", _RESULT_WORDS[row.result]))
        if result.results_path:
            self.user_properties.append(("odl_results", result.results_path))
        if result.report_path:
            self.user_properties.append(("odl_report", result.report_path))
        if not result.passed:
            raise OdlFailure(result)

    def repr_failure(self, excinfo, style=None):
        if not isinstance(excinfo.value, OdlFailure):
            return super().repr_failure(excinfo, style)
        result = excinfo.value.result
        lines = [f"{self.path.name}: {_RESULT_WORDS[result.verdict]}"]
        lines += result.errors or result.failures
        if result.failures_total > len(result.failures):
            lines.append(f"... and {result.failures_total - len(result.failures)} more")
        for row in result.named_results:
            lines.append(f"  result \"{row.name}\": {_RESULT_WORDS[row.result]}")
        if result.report_path:
            lines.append(f"Report: {result.report_path}")
        return "\n".join(lines)

    def reportinfo(self):
        return self.path, 0, f"odl script {self.path.name}"
