"""The player's fixed texts, as bytes, read from tests/expected_texts.h: the
one place they are written, for the C++ tests and these alike.

match_output compares an output with an expected text in which HEADER_MARK
stands for the three header lines and ERROR_MARK for one device error line.
"""
import ast
import os
import re

_SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'expected_texts.h')


def _read():
    """{'kUsage': b'...', ...}: each text there, its string literals and the
    texts it names joined."""
    with open(_SOURCE, encoding='ascii') as header:
        source = header.read()
    texts = {}
    for name, expression in re.findall(r'^inline const std::string (k\w+) =(.*?);$', source, re.M | re.S):
        value = b''
        for piece in re.findall(r'"(?:[^"\\]|\\.)*"|k\w+', expression):
            value += texts[piece] if piece.startswith('k') else ast.literal_eval('b' + piece)
        texts[name] = value
    return texts


_TEXTS = _read()
USAGE = _TEXTS['kUsage']
ERROR_MARK = _TEXTS['kErrorMark']
ERROR_LINE = re.compile(re.escape(_TEXTS['kErrorStart']) + rb'[\x20-\x7e]* \((\d+)' +
                        re.escape(_TEXTS['kErrorEnd']))
# The second header line is the maker's notice: any one printable line.
HEADER_MARK = b'{HEADER}'
_HEADER_LINES = re.escape(_TEXTS['kHeaderLine1']) + rb'[\x20-\x7e]+\r\n\r\n'


def match_output(actual, expected):
    """None when `actual` is `expected` with its marks filled in, else a
    description of the first difference. All error lines must be the same
    line."""
    pattern = b''
    for piece in re.split(b'(' + re.escape(HEADER_MARK) + b'|' + re.escape(ERROR_MARK) + b')', expected):
        if piece == HEADER_MARK:
            pattern += _HEADER_LINES
        elif piece == ERROR_MARK:
            pattern += ERROR_LINE.pattern
        else:
            pattern += re.escape(piece)
    if not re.fullmatch(pattern, actual, re.DOTALL):
        return f'output {actual!r}\n does not match {expected!r}'
    errors = [m.group(0) for m in ERROR_LINE.finditer(actual)]
    if len(set(errors)) > 1:
        return f'error lines differ: {errors!r}'
    return None
