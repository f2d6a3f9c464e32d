"""Drive Ordalis test scripts from Python.

    import ordalis
    result = ordalis.run("examples/power_supply.odl", limit=5)
    print(result.verdict, result.passed, result.results_path)

    script = ordalis.Script()
    script.on_log(lambda level, text, variable: print(text))
    script.load("examples/hello.odl")
    script.run()
    script.wait()

Errors of the engine are raised as OrdalisError, whose ``status`` is the status code.
Callbacks run on the engine's threads; keep them short. Every operation of the classes is a
method or property (docs/python.md lists them); a trace argument is a callable(level, text).
"""

from __future__ import annotations

import enum
import os
from dataclasses import dataclass, field
from typing import Any, Dict, List, Optional, Sequence


def _find_installed_plugins() -> None:
    """An installed module (<prefix>/lib/python3/dist-packages/ordalis) uses the plug-ins
    installed with it (<prefix>/lib/ordalis/plugins), wherever the prefix is: the directory
    joins ORDALIS_PLUGIN_PATH before the engine first looks for plug-ins."""
    here = os.path.dirname(os.path.abspath(__file__))
    plugins = os.path.normpath(os.path.join(here, "..", "..", "..", "ordalis", "plugins"))
    if os.path.isdir(plugins):
        path = os.environ.get("ORDALIS_PLUGIN_PATH", "")
        os.environ["ORDALIS_PLUGIN_PATH"] = f"{path}:{plugins}" if path else plugins


_find_installed_plugins()

from ._ordalis import (  # noqa: E402,F401  (re-exported)
    Aborted,
    ApplicationManager,
    BatchQueue,
    BatchQueueItem,
    BatchQueueItemCreator,
    BatchQueueRunner,
    OrdalisError,
    Script,
    ScriptItem,
    ScriptProxy,
    Tester,
    TesterCreator,
    TesterUtilities,
    can_unload_now,
    class_names,
)
from ._ordalis import register_tester as _register_tester

__all__ = [
    "Aborted", "ApplicationManager", "BatchQueue", "BatchQueueItem", "BatchQueueItemCreator",
    "BatchQueueItemStatus", "BatchQueueRunner", "BatchQueueState", "LoggingLevel", "OrdalisError",
    "Result", "RunResult", "Script", "ScriptItem", "ScriptProxy", "ScriptState", "Tester",
    "TesterCreator", "TesterUtilities", "class_names", "run", "Outcome", "Measurement", "tester",
    "register_tester",
]


class Result(enum.IntEnum):
    """The result of a statement, a named result or a whole run."""
    PASSED = 0
    FAILED = 1
    NOT_IMPLEMENTED = 2
    WARNING = 3
    ERROR = 4
    NOT_RUN = 5
    ABORTED = 6


class ScriptState(enum.IntEnum):
    RUNNING = 0
    PAUSING = 1
    PAUSED = 2
    STOPPING = 3
    NOT_RUNNING = 4


class BatchQueueState(enum.IntEnum):
    """The state of a batch queue (BatchQueue.state)."""
    RUNNING = 0
    PAUSING = 1
    PAUSED = 2
    STOPPING = 3
    NOT_RUNNING = 4


class BatchQueueItemStatus(enum.IntEnum):
    """The status of a batch entry or item (BatchQueue.status(id), Script.status, ...)."""
    NOT_RUNNING = 0
    RUNNING = 1
    PASSED = 2
    FAILED = 3
    ABORTED = 4


class LoggingLevel(enum.IntEnum):
    """The level of a log line (on_log callbacks, traces)."""
    FINEST = 0
    FINER = 1
    FINE = 2
    CONFIGURATION = 3
    INFORMATION = 4
    WARNING = 5
    SEVERE = 6


@dataclass
class NamedResult:
    """One `result "name"` block of a run."""
    name: str
    result: Result
    file: str
    line: int
    time_taken: float
    failure: str  # the first failing statement inside it, "file(line): Failed: text", or ""


@dataclass
class RunResult:
    """What ordalis.run returns: the verdict, the statement counts, the named results, the
    failing statements and the files the run wrote."""
    path: str
    verdict: Result
    counts: Dict[Result, int]
    named_results: List[NamedResult]
    failures: List[str]
    failures_total: int
    results_path: str
    report_path: str
    errors: List[str] = field(default_factory=list)  # syntax errors: the script did not run

    @property
    def passed(self) -> bool:
        return self.verdict == Result.PASSED

    @property
    def files(self) -> List[str]:
        return [f for f in (self.results_path, self.report_path) if f]


def literal(value: Any) -> str:
    """The script-literal text of a Python value: 5, 2.5, true, "text", or a list as 1, "a"."""
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, (int, float)):
        return repr(value)
    if isinstance(value, str):
        if '"' in value or "\n" in value:
            raise ValueError(f"a text value cannot hold a double quote or a line break: {value!r}")
        return '"' + value + '"'
    if isinstance(value, (list, tuple)):
        return ", ".join(literal(v) for v in value)
    raise TypeError(f"no script literal for {type(value).__name__}")


# How long ordalis.run waits, after stopping a script that ran out of time, for its run to end.
_STOP_GRACE = 1.0


def run(path: str, *, results_directory: Optional[str] = None, junit: str = "",
        timeout: Optional[float] = None, on_log=None, on_executed=None,
        literals: Optional[Dict[str, str]] = None, labels: Optional[Dict[str, str]] = None,
        results_db: str = "", **variables: Any) -> RunResult:
    """Loads the script at [path], gives it [variables] as user variables for this run (as
    `ordalis run --var NAME=VALUE` does; a str is a text, a list an array), runs it to its
    end and returns its RunResult. A script with syntax errors is not run: its RunResult has
    the verdict ERROR and the errors. [junit] names a JUnit document to write as well.
    [literals] gives variables as script-literal text already (NAME -> '5' or '"text"').
    [labels] are kept with the run in the results store (as `ordalis run --label`), which is
    [results_db] when given (a file or a postgresql:// URL) and otherwise the default one.
    Raises TimeoutError when [timeout] seconds pass first: the script is stopped, which aborts
    the action in progress (a Python tester's action sees ordalis.Aborted), and the error comes
    after at most _STOP_GRACE seconds more even when that action does not end; the run then
    ends, and writes its results, by itself (leaving the interpreter waits for it)."""
    path = os.fspath(path)
    if not os.path.isfile(path):
        raise FileNotFoundError(path)
    script = Script()
    try:
        if on_log is not None:
            script.on_log(on_log)
        # With a time limit, the last statement executed names where a script that runs out of
        # time was, when the script cannot tell its current statement any more.
        last = [None]
        if timeout is not None:
            def note_executed(item):
                last[0] = item
                if on_executed is not None:
                    on_executed(item)
            script.on_executed(note_executed)
        elif on_executed is not None:
            script.on_executed(on_executed)
        script.load(path)
        errors = script.errors
        if errors:
            return RunResult(path, Result.ERROR, {}, [], list(errors), len(errors), "", "", list(errors))
        if results_directory is not None:
            script.results_directory = os.fspath(results_directory)
        for name, value in variables.items():
            script.set_run_variable(name, literal(value))
        for name, text in (literals or {}).items():
            script.set_run_variable(name, text)
        script.run()
        if not script.wait(timeout):
            where = _statement_place(script.current_item or last[0])
            script.stop()
            script.wait(_STOP_GRACE)
            script.close(wait=False)
            raise TimeoutError(f"{path} did not end within {timeout} s" + (f", in {where}" if where else ""))
        digest = script.report(junit, {str(k): str(v) for k, v in (labels or {}).items()}, results_db)
    finally:
        script.close()
    counts = {Result(i): n for i, n in enumerate(digest["statements"])}
    rows = [NamedResult(r["name"], Result(r["result"]), r["file"], r["line"], r["time_taken"],
                        r["failure"]) for r in digest["rows"]]
    return RunResult(path, Result(digest["verdict"]), counts, rows, list(digest["failures"]),
                     digest["failures_total"], digest["results_path"], digest["report_path"])


def _statement_place(item) -> str:
    """'file(line): text' of the statement [item] stands in; empty when there is none."""
    if item is None:
        return ""
    while item.parent is not None and item.parent.type not in ("rootItem", "thenItem", "elseItem",
                                                               "doItem", "functionItem",
                                                               "ignoreResultItem", "resultItem"):
        item = item.parent
    return f"{item.file_name}({item.line}): {item.script_text}"


def _close_on_exit(cls, close):
    """Makes [cls] a context manager whose exit calls [close]."""
    cls.__enter__ = lambda self: self
    cls.__exit__ = lambda self, *exception: close(self)


def _result_as_enum(cls):
    """Makes [cls].result give a Result rather than its number."""
    number = cls.result
    cls.result = property(lambda self: Result(number.__get__(self)), doc=number.__doc__)


_result_as_enum(Script)
_result_as_enum(ScriptItem)
_close_on_exit(Script, lambda script: script.close())
_close_on_exit(BatchQueue, lambda queue: queue.close())


class Measurement:
    """A measurement a Python tester's action reports, in an Outcome's measurements:
    Measurement("DCV", 4.9963, "V", low=3.2, high=3.4). The comparison ("GELE", "GTLT", "GE",
    "LE", "EQ", "NE" or "LOG") follows from the limits given when left out: both GELE, only low
    GE, only high LE, none LOG. Without a result the limits judge the value. An empty name lets
    the script name it (the statement's result label, or the action's name)."""

    def __init__(self, name: str, value: Any, unit: str = "", low: Optional[float] = None,
                 high: Optional[float] = None, comparison: Optional[str] = None,
                 result: Optional[Result] = None):
        self.name = name
        self.value = value
        self.unit = unit
        self.low = None if low is None else float(low)
        self.high = None if high is None else float(high)
        if comparison is None:
            comparison = ("GELE" if high is not None else "GE") if low is not None else (
                "LE" if high is not None else "LOG")
        self.comparison = comparison.upper()
        self.result = None if result is None else int(result)


class Outcome:
    """What a Python tester's action returns to set its result: Outcome(Result.FAILED, 3.1), and
    to report measurements: Outcome(Result.PASSED, 5.0, measurements=[Measurement(...)])."""
    _ordalis_outcome = True

    def __init__(self, result: Result, *values: Any, measurements: Sequence[Measurement] = ()):
        self.result = int(result)
        self.values = values if len(values) != 1 else values[0]
        if not values:
            self.values = None
        self.measurements = list(measurements)


def register_tester(cls, name: Optional[str] = None):
    """Makes the class [cls] a tester type, named [name] (default: the class name in lower
    case), for the scripts this process runs: `x = new name(a, b)` makes cls(a, b), and
    `x.Method(1, "two")` calls its public method Method(1, "two"). A method's return value is the
    action's values (a tuple gives several) with the result Passed, or an Outcome sets the
    result; an exception makes the action's result Error and logs its traceback. Optional
    methods close() and abort() are called when the script deletes the tester or stops."""
    _register_tester(name or cls.__name__.lower(), cls)
    return cls


def tester(name: Optional[str] = None):
    """Class decorator form of register_tester: @ordalis.tester("supply")."""
    def register(cls):
        return register_tester(cls, name)
    return register


def _load_python_testers() -> None:
    """Imports the modules named in ORDALIS_PYTHON_TESTERS (separated by ':' or ','); each
    registers its tester classes when imported, usually with @ordalis.tester."""
    import importlib
    for name in os.environ.get("ORDALIS_PYTHON_TESTERS", "").replace(",", ":").split(":"):
        if name.strip():
            importlib.import_module(name.strip())


_load_python_testers()
