"""A tester written in Python, called from a script: parameters, values, results,
an exception as the action's Error with its traceback in the log, and abort."""
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


def test_a_type_is_registered_once():
    with pytest.raises(ValueError):
        ordalis.register_tester(Supply, "PYSUPPLY")
