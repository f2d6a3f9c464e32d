"""pytest collects Ordalis scripts: every `.odl` file under the given paths is a test item,
with the file's path as its node id (`tests/supply.odl`). With `--odl-named-results` each named
result of a script is an item as well (`tests/supply.odl::3.3 V rail`), passing or failing with
that result of the script's one run, so `-k rail` and `--lf` select them.

The item passes when the script's verdict is Passed. A failing item's text lists the failing
statements as `file(line): Failed: text — values`; the named results of the run are added to
the report as properties (`odl_result:<name>` = result word), so JUnit output shows them, and the
results document and HTML report are attached as `odl_results` / `odl_report`.

    pytest tests/                      # runs test_*.py and every *.odl file
    pytest tests/ -k supply            # pytest's selection applies
    pytest tests/ --odl-var LIMIT=5    # a user variable for every script (script-literal text)
    pytest tests/ --odl-timeout 60     # a script still running after 60 s fails, naming its statement

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
    group.addoption("--odl-named-results", action="store_true",
                    help="an item for each named result of a script as well (script.odl::name)")


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


def _labels(path):
    """The names of the named results of the script at [path], in script order, each once."""
    labels = []
    script = ordalis.Script()
    try:
        if not script.load(str(path)) or script.errors:
            return labels
        stack = [script.item]
        while stack:
            item = stack.pop()
            if item.type == "resultItem" and item.text not in labels:
                labels.append(item.text)
            stack.extend(reversed(item.children))
    finally:
        script.close()
    return labels


class OdlFile(pytest.File):
    """A script: one run, shared by the item of the script and those of its named results."""

    def collect(self):
        # The script's own item carries the file's node id, as a test file of its own would.
        yield OdlItem.from_parent(self, name=self.path.name, nodeid=self.nodeid)
        if self.config.getoption("odl_named_results"):
            for label in _labels(self.path):
                yield OdlNamedResult.from_parent(self, name=label)

    def script_run(self):
        """The run of the script, made the first time an item asks: its RunResult, or the
        failure it ended in."""
        if not hasattr(self, "_run"):
            config = self.config
            log = []

            def keep_severe(level, text, variable_name):
                if level == ordalis.LoggingLevel.SEVERE:
                    log.append(text)

            try:
                result = ordalis.run(str(self.path), results_directory=config.getoption("odl_results_dir"),
                                     timeout=config.getoption("odl_timeout"), on_log=keep_severe,
                                     literals=_variables(config))
                self._run = (result, None, log)
            except TimeoutError as error:
                self._run = (None, OdlMessage(str(error)), log)
        return self._run


class OdlFailure(Exception):
    def __init__(self, result: "ordalis.RunResult", log):
        super().__init__(result.verdict.name)
        self.result = result
        self.log = log


class OdlMessage(Exception):
    """A failure told in one message: a script still running when --odl-timeout passed (naming
    its statement), or a named result that did not pass."""


def _raised(log):
    """What Python testers raised, from the severe log lines that carry their tracebacks:
    'Type.Action raised ValueError: text'."""
    lines = []
    for text in log:
        head, marker, trace = text.partition(" raised:\n")
        if marker:
            last = [line for line in trace.strip().splitlines() if line.strip()]
            lines.append(f"{head} raised {last[-1].strip() if last else 'an exception'}")
    return lines


class OdlItem(pytest.Item):
    def runtest(self):
        result, timeout, log = self.parent.script_run()
        if timeout is not None:
            raise timeout
        for row in result.named_results:
            self.user_properties.append((f"odl_result:{row.name}", _RESULT_WORDS[row.result]))
        if result.results_path:
            self.user_properties.append(("odl_results", result.results_path))
        if result.report_path:
            self.user_properties.append(("odl_report", result.report_path))
        if not result.passed:
            raise OdlFailure(result, log)

    def repr_failure(self, excinfo, style=None):
        if isinstance(excinfo.value, OdlMessage):
            return str(excinfo.value)
        if not isinstance(excinfo.value, OdlFailure):
            return super().repr_failure(excinfo, style)
        result = excinfo.value.result
        lines = [f"{self.path.name}: {_RESULT_WORDS[result.verdict]}"]
        lines += result.errors or result.failures
        if result.failures_total > len(result.failures):
            lines.append(f"... and {result.failures_total - len(result.failures)} more")
        lines += _raised(excinfo.value.log)
        for row in result.named_results:
            lines.append(f"  result \"{row.name}\": {_RESULT_WORDS[row.result]}")
        if result.report_path:
            lines.append(f"Report: {result.report_path}")
        return "\n".join(lines)

    def reportinfo(self):
        return self.path, 0, f"odl script {self.path.name}"


class OdlNamedResult(pytest.Item):
    """One named result of a script, judged by the script's run."""

    def runtest(self):
        result, timeout, log = self.parent.script_run()
        if timeout is not None:
            raise timeout
        rows = [row for row in result.named_results if row.name == self.name]
        if not rows:
            raise OdlMessage(f"{self.path.name}: the run reached no result \"{self.name}\"")
        failed = [row for row in rows if row.result != ordalis.Result.PASSED]
        if failed:
            row = failed[0]
            text = f"result \"{row.name}\": {_RESULT_WORDS[row.result]}"
            details = [row.failure] if row.failure else []
            raise OdlMessage("\n".join([text] + details + _raised(log)))

    def repr_failure(self, excinfo, style=None):
        if isinstance(excinfo.value, OdlMessage):
            return str(excinfo.value)
        return super().repr_failure(excinfo, style)

    def reportinfo(self):
        return self.path, 0, f"odl result {self.name}"
