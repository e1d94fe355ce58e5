"""ValueData and ValueType: type tests, typed getters, printable forms."""

import inspect

import pytest

import orvane
from hive_builder import (REG_BINARY, REG_DWORD, REG_DWORD_BIG_ENDIAN, REG_EXPAND_SZ, REG_LINK, REG_MULTI_SZ,
                          REG_NONE, REG_QWORD, REG_RESOURCE_LIST, REG_SZ, HiveBuilder, Key, Value, multi_sz, sz,
                          utf16)

DATA_METHODS = [
    ("is_none", "Check if this is a None value"),
    ("is_string", "Check if this is a String value"),
    ("is_binary", "Check if this is a Binary value"),
    ("is_dword", "Check if this is a DWORD value"),
    ("is_qword", "Check if this is a QWORD value"),
    ("is_multi_string", "Check if this is a MultiString value"),
    ("as_string", "Get as string (if applicable)"),
    ("as_binary", "Get as binary data (if applicable)"),
    ("as_dword", "Get as DWORD (if applicable)"),
    ("as_qword", "Get as QWORD (if applicable)"),
    ("as_multi_string", "Get as multi-string (if applicable)"),
]
TYPE_METHODS = [
    ("type_name", 'Get the type name as string (e.g., "REG_SZ", "REG_DWORD")'),
    ("type_id", "Get the numeric type ID"),
]

GETTER_ERRORS = {
    "as_string": "Not a string value",
    "as_binary": "Not a binary value",
    "as_dword": "Not a DWORD value",
    "as_qword": "Not a QWORD value",
    "as_multi_string": "Not a multi-string value",
}

# id, type, stored bytes, the one is_* that answers True (or None), the getter
# and what it returns, the printable form.
CASES = [
    ("none-type", REG_NONE, b"\1\2", "is_none", None, None, "(none)"),
    ("empty-dword", REG_DWORD, b"", "is_none", None, None, "(none)"),
    ("empty-sz", REG_SZ, b"", "is_none", None, None, "(none)"),
    ("sz", REG_SZ, sz("abc"), "is_string", "as_string", "abc", "abc"),
    ("sz-inner-nul", REG_SZ, utf16("ab\0cd\0\0"), "is_string", "as_string", "ab\0cd", "ab\0cd"),
    ("sz-unicode", REG_SZ, sz("Grüße 😀"), "is_string", "as_string", "Grüße 😀", "Grüße 😀"),
    ("expand-sz", REG_EXPAND_SZ, sz("%SystemRoot%\\x"), "is_string", "as_string", "%SystemRoot%\\x",
     "%SystemRoot%\\x"),
    ("binary", REG_BINARY, b"\x0a\xff\x00", "is_binary", "as_binary", b"\x0a\xff\x00", "[0A, FF, 00]"),
    ("dword-1", REG_DWORD, b"\1\0\0\0", "is_dword", "as_dword", 1, "1 (0x00000001)"),
    ("dword-max", REG_DWORD, b"\xff" * 4, "is_dword", "as_dword", 4294967295, "4294967295 (0xFFFFFFFF)"),
    ("dword-long", REG_DWORD, b"\x78\x56\x34\x12\xff\xff\xff\xff", "is_dword", "as_dword", 0x12345678,
     "305419896 (0x12345678)"),
    ("dword-be", REG_DWORD_BIG_ENDIAN, b"\x12\x34\x56\x78", "is_dword", "as_dword", 0x12345678,
     "305419896 (0x12345678)"),
    ("dword-be-258", REG_DWORD_BIG_ENDIAN, b"\0\0\1\2", "is_dword", "as_dword", 258, "258 (0x00000102)"),
    ("qword-255", REG_QWORD, (255).to_bytes(8, "little"), "is_qword", "as_qword", 255, "255 (0x00000000000000FF)"),
    ("qword-max", REG_QWORD, b"\xff" * 8, "is_qword", "as_qword", 2**64 - 1,
     "18446744073709551615 (0xFFFFFFFFFFFFFFFF)"),
    ("multi", REG_MULTI_SZ, multi_sz("a", "b"), "is_multi_string", "as_multi_string", ["a", "b"], "a, b"),
    ("multi-gaps", REG_MULTI_SZ, utf16("a\0\0b\0\0"), "is_multi_string", "as_multi_string", ["a", "b"], "a, b"),
    ("multi-empty", REG_MULTI_SZ, utf16("\0\0"), "is_multi_string", "as_multi_string", [], ""),
    ("multi-comma", REG_MULTI_SZ, multi_sz("x, y", "z"), "is_multi_string", "as_multi_string", ["x, y", "z"],
     "x, y, z"),
    ("link", REG_LINK, utf16("\\R"), None, None, None, "[5C, 00, 52, 00]"),
    ("resource-list", REG_RESOURCE_LIST, b"\1", None, None, None, "[01]"),
    ("unknown-0x20", 0x20, b"\xde\xad", None, None, None, "[DE, AD]"),
]
IS_METHODS = [m for m, _ in DATA_METHODS if m.startswith("is_")]


@pytest.fixture(scope="module")
def data_by_case(tmp_path_factory):
    b = HiveBuilder()
    b.tree(Key("ROOT", [Value(case[0], case[1], case[2]) for case in CASES]))
    path = tmp_path_factory.mktemp("data") / "hive"
    b.write(path)
    key = orvane.Hive.open(str(path)).root_key()
    return {v.name(): v.data() for v in key.values()}


class TestSurface:
    @pytest.mark.parametrize("cls, method, doc", [(orvane.ValueData, m, d) for m, d in DATA_METHODS] +
                             [(orvane.ValueType, m, d) for m, d in TYPE_METHODS],
                             ids=[m for m, _ in DATA_METHODS + TYPE_METHODS])
    def test_signature_and_doc(self, cls, method, doc):
        function = getattr(cls, method)
        assert str(inspect.signature(function)) == "(self, /)"
        assert function.__doc__ == doc

    @pytest.mark.parametrize("cls, methods", [(orvane.ValueData, DATA_METHODS), (orvane.ValueType, TYPE_METHODS)],
                             ids=["ValueData", "ValueType"])
    def test_method_table_order_and_no_properties(self, cls, methods):
        # The documented methods come first, in their order; as_py() follows them.
        assert [n for n in vars(cls) if not n.startswith("_")][:len(methods)] == [m for m, _ in methods]
        assert cls.__doc__ == f"Python wrapper for {cls.__name__}"

    def test_immutable(self, data_by_case):
        data = data_by_case["dword-1"]
        with pytest.raises(AttributeError):
            data.value = 2
        assert data.as_dword() == 1


@pytest.mark.parametrize("case", CASES, ids=[c[0] for c in CASES])
class TestValueData:
    def test_type_tests(self, data_by_case, case):
        name, _, _, true_test, *_ = case
        data = data_by_case[name]
        assert {m: getattr(data, m)() for m in IS_METHODS} == {m: m == true_test for m in IS_METHODS}

    def test_getters(self, data_by_case, case):
        name, _, _, _, getter, expected, _ = case
        data = data_by_case[name]
        for method, message in GETTER_ERRORS.items():
            if method == getter:
                assert getattr(data, method)() == expected
                assert type(getattr(data, method)()) is type(expected)
            else:
                with pytest.raises(ValueError) as raised:
                    getattr(data, method)()
                assert str(raised.value) == message
                assert raised.type is ValueError

    def test_printable_form(self, data_by_case, case):
        data = data_by_case[case[0]]
        assert str(data) == case[6]
        assert repr(data) == case[6]


class TestValueDataDetails:
    def test_as_multi_string_gives_a_new_list(self, data_by_case):
        data = data_by_case["multi"]
        first = data.as_multi_string()
        first.append("c")
        first[0] = "changed"
        assert data.as_multi_string() == ["a", "b"]
        assert data.as_multi_string() is not data.as_multi_string()

    def test_expand_string_is_not_expanded(self, data_by_case, monkeypatch):
        monkeypatch.setenv("SystemRoot", "/should/not/appear")
        assert data_by_case["expand-sz"].as_string() == "%SystemRoot%\\x"

    def test_data_outlives_its_hive(self, open_tree):
        value = open_tree(Key("ROOT", [Value("v", REG_MULTI_SZ, multi_sz("kept"))])).root_key().value("v")
        data = value.data()
        del value
        assert data.as_multi_string() == ["kept"]


TYPE_NAMES = ["REG_NONE", "REG_SZ", "REG_EXPAND_SZ", "REG_BINARY", "REG_DWORD", "REG_DWORD_BIG_ENDIAN",
              "REG_LINK", "REG_MULTI_SZ", "REG_RESOURCE_LIST", "REG_FULL_RESOURCE_DESCRIPTOR",
              "REG_RESOURCE_REQUIREMENTS_LIST", "REG_QWORD"]
TYPE_CASES = list(enumerate(TYPE_NAMES)) + [
    (12, "REG_UNKNOWN_0x0000000c"),
    (0x20, "REG_UNKNOWN_0x00000020"),
    (0x1234, "REG_UNKNOWN_0x00001234"),
    (0xFFFFFFFF, "REG_UNKNOWN_0xffffffff"),
]


@pytest.fixture(scope="module")
def type_by_code(tmp_path_factory):
    b = HiveBuilder()
    b.tree(Key("ROOT", [Value(f"t{code}", code, b"\1") for code, _ in TYPE_CASES]))
    path = tmp_path_factory.mktemp("types") / "hive"
    b.write(path)
    key = orvane.Hive.open(str(path)).root_key()
    return {int(v.name()[1:]): v.value_type() for v in key.values()}


class TestValueType:
    @pytest.mark.parametrize("code, name", TYPE_CASES, ids=[n for _, n in TYPE_CASES])
    def test_name_code_and_forms(self, type_by_code, code, name):
        value_type = type_by_code[code]
        assert value_type.type_id() == code
        assert value_type.type_name() == name
        assert str(value_type) == name
        assert repr(value_type) == f"ValueType({name})"

    def test_unknown_types_decode_to_other(self, type_by_code, data_by_case):
        assert type_by_code[0x20].type_id() == 32
        data = data_by_case["unknown-0x20"]
        assert not data.is_binary() and str(data) == "[DE, AD]"
