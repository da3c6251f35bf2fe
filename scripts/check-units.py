#!/usr/bin/env python3
"""No product source file over 400 lines and no function over 60 lines.

Run from the top of the tree: scripts/check-units.py [--list N]. Product files are the C++ sources
outside tests/, bench/ and the fuzz targets. A function is counted from the line of its opening
brace to the line of its closing one, at namespace or class level (lambdas and local classes
belong to the function they are in). Exits 1 and names each offender when there is one.
"""
import re
import subprocess
import sys

MAX_FILE = 400
MAX_FUNCTION = 60


def product_files():
    out = subprocess.run(['git', 'ls-files', '*.cpp', '*.h'], capture_output=True, text=True,
                         check=True).stdout.split()
    return [f for f in out if not f.startswith(('tests/', 'bench/'))]


def strip(text):
    """The text with comments, strings and character literals blanked, lines kept."""
    text = re.sub(r'//[^\n]*', '', text)
    text = re.sub(r'/\*.*?\*/', lambda m: '\n' * m.group(0).count('\n'), text, flags=re.S)
    text = re.sub(r'R"(\w*)\((.*?)\)\1"', lambda m: '""' + '\n' * m.group(0).count('\n'), text,
                  flags=re.S)
    text = re.sub(r'"(?:[^"\\\n]|\\.)*"', '""', text)
    return re.sub(r"'(?:[^'\\\n]|\\.)*'", "''", text)


def functions(text):
    """(name, first line, last line) of each function body at namespace or class level."""
    found = []
    stack = []  # for each open brace: 'function', 'scope' (namespace, class, enum) or 'inner'
    head = ''
    line = 1
    for ch in text:
        if ch == '\n':
            line += 1
        if ch == '{':
            inside = any(kind == 'function' for kind, _, _ in stack)
            h = ' '.join(head.split())
            is_function = (not inside and ')' in h and '=' not in h.split(')')[-1]
                           and not re.search(r'\b(namespace|class|struct|enum|union)\b[^()]*$', h)
                           and not h.endswith('='))
            if inside:
                kind = 'inner'
            elif is_function:
                kind = 'function'
            else:
                kind = 'scope'
            name = re.findall(r'([~\w:]+)\s*\(', h)
            stack.append((kind, line, name[0] if name else h[-40:]))
            head = ''
        elif ch == '}':
            if stack:
                kind, start, name = stack.pop()
                if kind == 'function':
                    found.append((name, start, line))
            head = ''
        elif ch == ';':
            head = ''
        else:
            head += ch
    return found


def main():
    listing = int(sys.argv[2]) if len(sys.argv) > 2 and sys.argv[1] == '--list' else 0
    problems = []
    lengths = []
    for path in product_files():
        with open(path, encoding='utf-8') as f:
            text = f.read()
        count = text.count('\n')
        if count > MAX_FILE:
            problems.append(f'{path}: {count} lines (at most {MAX_FILE})')
        for name, start, end in functions(strip(text)):
            length = end - start + 1
            lengths.append((length, f'{path}:{start} {name}'))
            if length > MAX_FUNCTION:
                problems.append(f'{path}:{start}: {name} has {length} lines (at most {MAX_FUNCTION})')
    for length, where in sorted(lengths, reverse=True)[:listing]:
        print(f'{length:4} {where}')
    for problem in problems:
        print(problem, file=sys.stderr)
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
