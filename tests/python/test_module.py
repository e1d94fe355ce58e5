"""The module itself: attributes, classes, calling conventions, exports."""

import inspect
import shutil
import subprocess
import sys
import textwrap

import pytest

import orvane

CLASSES = ["Hive", "RegistryKey", "RegistryValue", "ValueData", "ValueType", "BaseBlock", "HbinHeader", "CarvedItem"]


def run_python(code: str, timeout: float = 60) -> subprocess.CompletedProcess:
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True,
                          timeout=timeout)


class TestAttributes:
    def test_all_lists_the_classes_then_the_version(self):
        assert orvane.__all__ == CLASSES + ["__version__"]

    def test_version_and_doc(self):
        assert orvane.__version__ == "0.1.0"
        assert orvane.__doc__ == "Python module definition"

    def test_version_comes_from_pyproject(self):
        import tomllib
        from pathlib import Path
        with open(Path(__file__).resolve().parents[2] / "pyproject.toml", "rb") as f:
            assert orvane.__version__ == tomllib.load(f)["project"]["version"]

    def test_open_and_carve_are_the_module_level_functions(self):
        assert [n for n, v in vars(orvane).items() if inspect.isbuiltin(v)] == ["open", "carve"]
        assert issubclass(orvane.DirtyHiveWarning, UserWarning)
        assert "DirtyHiveWarning" not in orvane.__all__


@pytest.mark.parametrize("name", CLASSES)
class TestClassConventions:
    def test_no_constructor(self, name):
        cls = getattr(orvane, name)
        with pytest.raises(TypeError, match="^No constructor defined$"):
            cls()
        with pytest.raises(TypeError, match="^No constructor defined$"):
            cls(1, x=2)

    def test_cannot_be_subclassed(self, name):
        with pytest.raises(TypeError):
            type("Sub", (getattr(orvane, name),), {})

    def test_bare_name_and_doc(self, name):
        cls = getattr(orvane, name)
        assert cls.__name__ == name
        assert cls.__qualname__ == name
        assert cls.__doc__.startswith(f"Python wrapper for {name}")

    def test_class_is_immutable(self, name):
        with pytest.raises(TypeError):
            getattr(orvane, name).extra = 1


class TestHiveSignatures:
    @pytest.mark.parametrize("method, signature, doc", [
        ("open", "(path)", "Open a registry hive file"),
        ("base_block", "(self, /)", "Get the base block (header) information"),
        ("hbins", "(self, /)", "Get all hbin headers"),
    ])
    def test_text_signature_and_doc(self, method, signature, doc):
        function = getattr(orvane.Hive, method)
        assert str(inspect.signature(function)) == signature
        assert function.__doc__ == doc

    @pytest.mark.parametrize("args, kwargs, message", [
        ((b"x",), {}, "Hive.open() argument 'path' must be str, not bytes"),
        ((), {}, "Hive.open() missing 1 required positional argument: 'path'"),
        (("a", "b"), {}, "Hive.open() takes 1 positional argument but 2 were given"),
        ((), {"file": "a"}, "Hive.open() got an unexpected keyword argument 'file'"),
        (("a",), {"path": "a"}, "Hive.open() got multiple values for argument 'path'"),
        ((None,), {}, "Hive.open() argument 'path' must be str, not NoneType"),
    ], ids=["bytes", "missing", "surplus", "unknown-keyword", "duplicate", "none"])
    def test_argument_errors_name_method_and_parameter(self, args, kwargs, message):
        with pytest.raises(TypeError) as raised:
            orvane.Hive.open(*args, **kwargs)
        assert str(raised.value) == message

    def test_path_like_is_refused_before_any_file_is_touched(self, tmp_path):
        with pytest.raises(TypeError, match="argument 'path' must be str, not PosixPath"):
            orvane.Hive.open(tmp_path / "missing")

    def test_keyword_path_is_accepted(self, tmp_path):
        with pytest.raises(OSError):
            orvane.Hive.open(path=str(tmp_path / "missing"))

    def test_no_arguments_for_plain_methods(self, write_hive):
        from hive_builder import HiveBuilder
        hive = orvane.Hive.open(write_hive(HiveBuilder()))
        with pytest.raises(TypeError):
            hive.hbins(1)


class TestProcessLevel:
    @pytest.mark.skipif(shutil.which("nm") is None, reason="needs binutils' nm")
    def test_only_the_init_function_is_exported(self):
        out = subprocess.run(["nm", "-D", "--defined-only", orvane.__file__], capture_output=True, text=True,
                             check=True).stdout
        assert [line.split()[-1] for line in out.splitlines() if line.strip()] == ["PyInit_orvane"]

    def test_reimport_returns_the_same_module(self):
        result = run_python("""
            import sys, orvane
            first = orvane
            del sys.modules["orvane"]
            import orvane
            assert orvane is first and orvane.Hive is first.Hive
            print("same")
        """)
        assert result.stdout.strip() == "same", result.stderr

    def test_sub_interpreter_import_fails_and_main_keeps_working(self):
        result = run_python("""
            try:
                import _interpreters as interpreters
            except ImportError:
                import _xxsubinterpreters as interpreters
            import orvane
            messages = []
            for config in ("isolated", "legacy"):
                try:
                    iid = interpreters.create(config)
                except TypeError:
                    iid = interpreters.create()
                try:
                    failure = interpreters.run_string(iid, "import orvane")
                    messages.append(failure.type.__name__ if failure else "imported")
                except Exception as error:  # 3.12 raises the failure
                    messages.append("ImportError" if "ImportError" in str(error) else repr(error))
                interpreters.destroy(iid)
            import orvane as again
            assert again is orvane and orvane.Hive.__name__ == "Hive"
            print(",".join(messages))
        """)
        assert result.stdout.strip() == "ImportError,ImportError", result.stderr
