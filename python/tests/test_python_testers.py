"""A tester written in Python, called from a script: parameters, values, results,
an exception as the action's Error with its traceback in the log, and abort."""
import threading
import time

import pytest

import ordalis


@ordalis.tester("pysupply")
class Supply:
    """A simulated supply written in Python."""

    def __init__(self, volts=0.0):
        self.volts = volts

    def SetVoltage(self, volts):
        self.volts = volts

    def Measure(self):
        return self.volts

    def Window(self, low, high):
        return ordalis.Outcome(ordalis.Result.PASSED if low <= self.volts <= high else ordalis.Result.FAILED,
                               self.volts)

    def Rail(self, name, low, high):
        """Reports the voltage as a measurement, judged by its limits."""
        rail = ordalis.Measurement(name, self.volts, "V", low=low, high=high)
        return ordalis.Outcome(ordalis.Result.PASSED, self.volts, measurements=[rail])

    def Pair(self, first, second):
        return second, first

    def Broken(self):
        raise ValueError("the relay is stuck")


def run_text(tmp_path, text, **kwargs):
    script = tmp_path / "python_tester.odl"
    script.write_text(text)
    lines = []
    result = ordalis.run(script, on_log=lambda level, line, variable: lines.append(line), **kwargs)
    return result, "\n".join(lines)


def test_actions_get_parameters_and_return_values(tmp_path):
    result, _ = run_text(tmp_path, """
s = new pysupply(1.5)
s.SetVoltage(5)
v = s.Measure()
result "in window" w = s.Window(4.5, 5.5)
p = s.Pair(1, "two")
if v == 5 and p[0] == "two" and p[1] == 1 then passed else failed endif
""")
    assert result.verdict == ordalis.Result.PASSED, result.failures


def test_outcome_sets_the_result_and_an_exception_is_an_error(tmp_path):
    result, log = run_text(tmp_path, """
s = new pysupply(12)
result "in window" w = s.Window(4.5, 5.5)
s.Broken()
""")
    assert [r.result for r in result.named_results] == [ordalis.Result.FAILED]
    assert any("(4): Error" in f for f in result.failures), result.failures
    assert "ValueError: the relay is stuck" in log and "Traceback" in log


def test_an_outcome_reports_measurements(tmp_path):
    # A failed measurement fails the action that passed, and names itself in the failure line;
    # one left unnamed takes the statement's result label.
    result, _ = run_text(tmp_path, """
s = new pysupply(5.2)
result "5 V rail" r = s.Rail("", 4.75, 5.25)
result "3.3 V rail" r = s.Rail("DCV", 3.2, 3.4)
""")
    assert [r.result for r in result.named_results] == [ordalis.Result.PASSED, ordalis.Result.FAILED]
    assert any("3.3 V rail: DCV = 5.2 V, limits 3.2\u20133.4 V" in f for f in result.failures), result.failures
    xml = next((tmp_path / "Results").glob("*.xml")).read_text()
    assert "<name>5 V rail</name>" in xml and "<comparison>GELE</comparison>" in xml, xml


def test_a_type_is_registered_once():
    with pytest.raises(ValueError):
        ordalis.register_tester(Supply, "PYSUPPLY")


# Stopping a script that ran out of time: an action running Python sees ordalis.Aborted, and an
# action held in one long call does not hold back the TimeoutError.
class Hold:
    aborted = threading.Event()
    release = threading.Event()
    ended = threading.Event()

    def Spin(self):
        deadline = time.monotonic() + 30
        try:
            while not Hold.release.wait(0.05) and time.monotonic() < deadline:
                pass
        except ordalis.Aborted:
            Hold.aborted.set()
            raise

    def Block(self):
        try:
            Hold.release.wait(60)
        finally:
            Hold.ended.set()


ordalis.register_tester(Hold, "pyhold")


@pytest.fixture
def hold():
    for event in (Hold.aborted, Hold.release, Hold.ended):
        event.clear()
    yield Hold
    Hold.release.set()


def test_a_timeout_aborts_an_action_running_python(tmp_path, hold):
    results = []
    script = tmp_path / "spin.odl"
    script.write_text("h = new pyhold()\nh.Spin()\n")
    with pytest.raises(TimeoutError):
        ordalis.run(script, timeout=0.2,
                    on_executed=lambda item: results.append((item.line, item.result)))
    assert hold.aborted.is_set()
    assert (2, ordalis.Result.ABORTED) in results


def test_a_timeout_does_not_wait_for_an_action_held_in_one_call(tmp_path, hold):
    script = tmp_path / "block.odl"
    script.write_text("h = new pyhold()\nh.Block()\n")
    with pytest.raises(TimeoutError):
        ordalis.run(script, timeout=0.2)
    assert not hold.ended.is_set()  # the action is still in its call
    hold.release.set()
    assert hold.ended.wait(30)
