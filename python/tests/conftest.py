# The tests use a scratch settings store, never the machine's or the user's, and the pytest
# plug-in of the package under test.
import atexit
import os
import shutil
import tempfile

pytest_plugins = ["pytester"]

_settings = tempfile.mkdtemp(prefix="ordalis_python_")
os.environ["ORDALIS_MACHINE_SETTINGS"] = os.path.join(_settings, "machine.json")
os.environ["ORDALIS_USER_SETTINGS"] = os.path.join(_settings, "user.json")
atexit.register(shutil.rmtree, _settings, True)
