"""The tests' copy of the bus contract says what bus/contract.h says: every
name and code, in the same group, with the same value, and nothing more."""
import re

import bus_contract
from conftest import SOURCE_DIR

CONSTANT = re.compile(r'inline constexpr (?:const char \*|int32_t )k(\w+) = ("(?:[^"\\]|\\.)*"|-?\d+);')
GROUP = re.compile(r"namespace (\w+) \{|\}  // namespace (\w+)")


def header_constants():
    """(group, NAME) -> value for every constant of the header; the top
    level of the vekobus namespace is group None."""
    found, groups = {}, []
    for line in (SOURCE_DIR / "bus" / "contract.h").read_text().splitlines():
        if m := GROUP.search(line):
            if m.group(1):
                groups.append(m.group(1))
            else:
                groups.pop()
            continue
        if m := CONSTANT.search(line):
            name = re.sub(r"(?<!^)(?=[A-Z])", "_", m.group(1)).upper()
            value = m.group(2)
            group = groups[-1] if len(groups) > 1 else None
            found[(group, name)] = value[1:-1] if value.startswith('"') else int(value)
    assert groups == [], "unbalanced namespaces in bus/contract.h"
    return found


def mirror_constants():
    found = {}
    for attr, value in vars(bus_contract).items():
        if isinstance(value, type):
            found.update({(attr, name): v for name, v in vars(value).items() if name.isupper()})
        elif attr.isupper():
            found[(None, attr)] = value
    return found


def test_the_mirror_and_the_header_name_the_same_constants_with_the_same_values():
    header, mirror = header_constants(), mirror_constants()
    assert len(header) > 40  # the parser found the header's constants at all
    assert {k: v for k, v in mirror.items() if header.get(k) != v} == {}
    assert {k: v for k, v in header.items() if k not in mirror} == {}
