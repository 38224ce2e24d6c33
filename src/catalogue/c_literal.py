"""The one C++ string-literal escaper of the embedders: bytes to literal bodies that keep every byte.

Standard library only; the embedders beside it import it (a script's own folder is on its import path).
"""


def escape_byte(b):
    """One byte inside a C++ string literal."""
    if b == 0x0A:
        return "\\n"
    if b == 0x5C:
        return "\\\\"
    if b == 0x22:
        return '\\"'
    if b == 0x3F:
        return "\\?"  # never part of a trigraph
    if 0x20 <= b < 0x7F:
        return chr(b)
    return "\\%03o" % b  # always three digits: a following digit stays a digit


def literal_pieces(data, max_run=None):
    """The bytes as literal bodies: a piece ends after each newline and, with max_run, after that many
    other bytes; at least one (possibly empty) piece."""
    pieces, cur, n = [], [], 0
    for b in data:
        cur.append(escape_byte(b))
        if b == 0x0A:
            pieces.append("".join(cur))
            cur, n = [], 0
            continue
        n += 1
        if max_run is not None and n >= max_run:
            pieces.append("".join(cur))
            cur, n = [], 0
    if cur or not pieces:
        pieces.append("".join(cur))
    return pieces
