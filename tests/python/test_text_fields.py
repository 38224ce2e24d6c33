"""Text read from files comes back whole: block headers, record ids and Conway names that are not UTF-8 read
with surrogate escapes (whatever the locale), and the setters, the readers of strings, format_ideal_ab_header
and the canonicaliser give their bytes back. Valid UTF-8 reads as any str."""
import pytest

import _bindings as tb

ROWS = b"  1.0 0.0 0.0 1.0 0.0 0.0\n  0.0 0.5 0.5 0.0 0.0 0.3\n"

# Bytes of a text field that are not UTF-8: Latin-1, a lone continuation byte, an overlong form, a cut
# multi-byte sequence, a surrogate encoded as UTF-8 would, a code beyond U+10FFFF, valid and invalid mixed.
NOT_UTF8 = [
    b"Knot 3_1 (caf\xe9 knot)",
    b"\x80",
    b"\xc0\xaf",
    b"tail \xe2\x82",
    b"\xed\xa0\x80",
    b"\xf4\x90\x80\x80",
    "caf\u00e9 ".encode() + b"\xe9",
]
UTF8 = ["caf\u00e9 \u2603 \U0001f600", "3_1"]
RAW = NOT_UTF8 + [t.encode() for t in UTF8]
IDS = ["latin1", "continuation", "overlong", "cut", "surrogate", "beyond", "mixed", "utf8", "ascii"]


def escaped(raw):
    return raw.decode("utf-8", "surrogateescape")


def encoded(text):
    return text.encode("utf-8", "surrogateescape")


@pytest.mark.parametrize("text", UTF8, ids=IDS[-2:])
def test_valid_utf8_reads_as_before(text):
    content = "% " + text + "\n" + ROWS.decode()
    [block] = tb.parse_fseries_from_string(content)
    assert block.header == text and tb.parse_fseries_from_string(content.encode())[0].header == text
    record = tb.parse_ideal_txt_from_string(ideal_text(text.encode(), text.encode()).decode())[0]
    assert record.id == text and record.conway == text


@pytest.mark.parametrize("raw", RAW, ids=IDS)
def test_fseries_header_round_trip(tmp_path, raw):
    path = tmp_path / "k.fseries"
    content = b"% " + raw + b"\n" + ROWS
    path.write_bytes(content)
    readings = [tb.parse_fseries_multi(str(path)), tb.parse_fseries_from_string(escaped(content)),
                tb.parse_fseries_from_string(content)]
    for blocks in readings:
        assert len(blocks) == 1 and encoded(blocks[0].header) == raw
        assert blocks[0].a_x == [1.0, 0.0] and blocks[0].b_z == [0.0, 0.3]
    header = readings[0][0].header
    block = tb.FourierBlock()
    for value in (header, raw, bytearray(raw)):
        block.header = value
        assert block.header == header and encoded(block.header) == raw
    knot = tb.fourier_knot()
    knot.blocks = readings[0]
    knot.blocks[0].header = header + "\udcff"
    assert encoded(knot.blocks[0].header) == raw + b"\xff"


@pytest.mark.parametrize("raw", RAW, ids=IDS)
def test_canonicaliser_keeps_the_bytes_of_the_other_lines(tmp_path, raw):
    path = tmp_path / "legacy.fseries"
    zeros = b"    0.000000" * 6
    path.write_bytes(b"% " + raw + b"\n0 0 0\n" + ROWS + b"% " + raw + b" \xff\n")
    record = tb.canonicalize_fseries_file_inplace(str(path))
    assert record.changed and record.reason == "upgraded leading 3-col zeros row to 6-col j=0 row"
    assert path.read_bytes() == b"% " + raw + b"\n" + zeros + b"\n" + ROWS + b"% " + raw + b" \xff\n"
    [block] = tb.parse_fseries_multi(str(path))
    assert encoded(block.header) == raw and block.a_x == [0.0, 1.0, 0.0]


def ideal_text(raw_id, raw_conway):
    return (b'<AB Id="' + raw_id + b'" Conway="' + raw_conway + b'" L="6.500000" D="1.500000" n="1">\n'
            b'<Coeff I="1" A="2.5, 0, 0" B="0, 2.5, 0" />\n</AB>\n'
            b'<AB Id="other" Conway="" L="1" D="1">\n<Coeff I="1" A="1, 0, 0" B="0, 1, 0" />\n</AB>\n')


@pytest.mark.parametrize("raw", RAW, ids=IDS)
def test_ideal_record_round_trip(tmp_path, raw):
    raw_conway = raw[::-1] + b"\xff"
    content = ideal_text(raw, raw_conway)
    path = tmp_path / "ideal.txt"
    path.write_bytes(content)
    header = b'AB Id="' + raw + b'" Conway="' + raw_conway + b'" L="6.500000" D="1.500000" n="1"'
    readings = [tb.parse_ideal_txt_multi(str(path)), tb.parse_ideal_txt_from_string(escaped(content)),
                tb.parse_ideal_txt_from_string(content)]
    for records in readings:
        assert [encoded(r.id) for r in records] == [raw, b"other"]
        assert [encoded(r.conway) for r in records] == [raw_conway, b""]
        assert encoded(tb.format_ideal_ab_header(records[0])) == header
    first = readings[0][0]
    assert tb.index_of_ideal_id(readings[0], first.id) == 0 and tb.index_of_ideal_id(readings[0], raw) == 0
    for text in (escaped(content), content):
        for ab_id in (first.id, raw):
            found = tb.parse_ideal_ab_by_id_from_string(text, ab_id)
            assert found.id == first.id and found.conway == first.conway
    # Written back through the setters, the record formats as the file's own tag.
    record = tb.IdealABBlock()
    record.id, record.conway, record.L, record.D = first.id, first.conway, 6.5, 1.5
    assert encoded(tb.format_ideal_ab_header(record)) == header
    record.id, record.conway = raw, bytearray(raw_conway)
    assert (record.id, record.conway) == (first.id, first.conway)
    assert encoded(tb.format_ideal_ab_header(record)) == header


@pytest.mark.parametrize("setter", [
    lambda v: setattr(tb.FourierBlock(), "header", v),
    lambda v: setattr(tb.IdealABBlock(), "id", v),
    lambda v: setattr(tb.IdealABBlock(), "conway", v),
    lambda v: setattr(tb.CanonicalizeResult(), "reason", v),
    lambda v: tb.parse_fseries_from_string(v),
    lambda v: tb.parse_ideal_txt_from_string(v),
    lambda v: tb.parse_ideal_ab_by_id_from_string(v, "x"),
    lambda v: tb.parse_ideal_ab_by_id_from_string("", v),
    lambda v: tb.index_of_ideal_id([], v),
], ids=["header", "id", "conway", "reason", "fseries", "ideal", "content", "ab_id", "index"])
@pytest.mark.parametrize("value", ["\ud800", "a\udc7f", 3, None, ["x"]], ids=["high", "low", "int", "none", "list"])
def test_text_that_has_no_bytes_is_refused(setter, value):
    # A surrogate that is no escape of a byte has no UTF-8 form: refused, as any other non-text.
    with pytest.raises(TypeError, match="incompatible function arguments"):
        setter(value)


def test_result_reason_gives_its_bytes_back():
    record = tb.CanonicalizeResult()
    record.reason = b"r\xe9ason"
    assert record.reason == "r\udce9ason"
    record.reason = "already has 6-column j=0 row"
    assert record.reason == "already has 6-column j=0 row"


def test_embedded_texts_read_as_before():
    knots, ideal = tb.get_embedded_knot_files(), tb.get_embedded_ideal_files()
    assert knots and ideal
    for text in list(knots.values()) + list(ideal.values()):
        assert type(text) is str
        text.encode("utf-8")  # valid UTF-8: no escape in any of them
    assert tb.load_embedded_ideal_text("ideal.txt") == ideal["ideal.txt"]


@pytest.mark.parametrize("name, signature", [
    ("get_embedded_knot_files", "get_embedded_knot_files() -> dict[str, str]"),
    ("get_embedded_ideal_files", "get_embedded_ideal_files() -> dict[str, str]"),
    ("load_embedded_ideal_text", "load_embedded_ideal_text(name: str = 'ideal.txt') -> str"),
    ("format_ideal_ab_header", "format_ideal_ab_header(ab: _bindings.IdealABBlock) -> str"),
    ("parse_fseries_from_string", "parse_fseries_from_string(content: str) -> list[_bindings.FourierBlock]"),
])
def test_text_signatures_name_str(name, signature):
    assert getattr(tb, name).__doc__.split("\n", 1)[0] == signature


def test_particle_evaluator_finds_an_id_that_is_not_utf8(tmp_path, monkeypatch):
    db = tmp_path / "ideal_database.txt"
    db.write_bytes(b'<DATA TiABe="x">\n<AB Id="caf\xe9" Conway="0" L=" 6.283185" D=" 1.000000">\n'
                   b'  <Coeff I="  1" A=" 1.000000, 0.000000, 0.000000" B=" 0.000000, 1.000000, 0.000000" />\n'
                   b'</AB>\n</DATA>\n')
    monkeypatch.setenv("TARQ_IDEAL_DATABASE", str(db))
    monkeypatch.chdir(tmp_path)
    [record] = tb.parse_ideal_txt_multi(str(db))
    by_text = tb.ParticleEvaluator(record.id, 4).get_filaments()
    assert by_text == tb.ParticleEvaluator(b"caf\xe9", 4).get_filaments()
    assert len(by_text) == 1 and len(by_text[0]) == 4 and by_text[0][0] == [1.0, 0.0, 0.0]
    with pytest.raises(RuntimeError) as info:
        tb.ParticleEvaluator("caf\udce8", 4)
    assert str(info.value) == "[!] TARQcore: Knoop ID caf\udce8 niet gevonden in database."
