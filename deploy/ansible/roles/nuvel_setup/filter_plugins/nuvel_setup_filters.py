# Filters of the nuvel_setup role: which courses an answer file acts on, and whether a
# replay of it on a host has anything to do, given that host's `nuvel-setup --list --json`.
#
# They live in the role (no collection needed) and use nothing but the Python standard
# library, so that scripts/ansible-test.sh can also call them directly.

import re

# Statuses of a source course (--list --json) that mean installing it changes the machine.
STATUSES_TO_INSTALL = ("new", "more_recent", "incomplete")

# The answer that hits "Uninstall" and "Uninstall All" in the uninstall dialog.
UNINSTALL_SELECTED = 2
UNINSTALL_ALL = 5

_ESCAPES = {"n": "\n", "r": "\r", "t": "\t", '"': '"', "\\": "\\"}


def _row_number(word):
    """A bare word that the program reads as a row number: digits, no leading zero."""
    return word.isdigit() and (len(word) == 1 or word[0] != "0")


def _read_quoted(text, i):
    """The quoted text starting at text[i] == '"': (value, index after the closing quote)."""
    out = []
    i += 1
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            out.append(_ESCAPES.get(text[i + 1], text[i + 1]))
            i += 2
            continue
        if c == '"':
            return "".join(out), i + 1
        out.append(c)
        i += 1
    raise ValueError("unterminated quoted text")


def _read_rows(text, i):
    """The rows after "select" from text[i]: (row numbers, keys, index after them)."""
    rows, keys = [], []
    m = re.match(r"\d+:", text[i:])
    if m:  # "select N:..." names list item N; the course lists have only one list
        i += m.end()
    if text.startswith("none", i) and (i + 4 == len(text) or text[i + 4].isspace()):
        return rows, keys, i + 4
    while True:
        if i < len(text) and text[i] == '"':
            key, i = _read_quoted(text, i)
            keys.append(key)
        else:
            m = re.match(r'[^\s,"]+', text[i:])
            if not m:
                raise ValueError("select without rows")
            word = m.group(0)
            i += m.end()
            (rows if _row_number(word) else keys).append(int(word) if _row_number(word) else word)
        if i < len(text) and text[i] == ",":
            i += 1
            continue
        return rows, keys, i


def _parse_line(line):
    """(dialog name, [(rows, keys)], answer) of an answer line; None for other lines."""
    m = re.match(r"\s*([A-Za-z0-9_-]+)(\s.*)?->\s*(\S+)\s*$", line)
    if not m:
        return None
    name, settings, answer = m.group(1), m.group(2) or "", m.group(3)
    selects = []
    i = 0
    while i < len(settings):
        if settings[i].isspace():
            i += 1
        elif settings[i] == '"':  # the text of a "set N=" setting
            _, i = _read_quoted(settings, i)
        elif settings.startswith("select", i) and (i == 0 or settings[i - 1].isspace()) \
                and i + 6 < len(settings) and settings[i + 6].isspace():
            i += 6
            while i < len(settings) and settings[i].isspace():
                i += 1
            rows, keys, i = _read_rows(settings, i)
            selects.append((rows, keys))
        else:
            i += 1
    try:
        answer = int(answer)
    except ValueError:
        answer = None
    return name, selects, answer


def nuvel_answer_courses(text):
    """The courses an answer file acts on.

    Returns {"install": [course folders chosen in the "products" dialog],
             "remove": [course folders chosen in the "uninstall" dialog for Uninstall],
             "remove_all": whether it answers the uninstall dialog with Uninstall All,
             "determined": whether those lists say everything the file does}.
    Not determined: a course list answered by row number or by its preselection (the rows
    depend on the source at hand), a line that cannot be read, or no course dialog at all.
    """
    install, remove = [], []
    remove_all = False
    determined = True
    course_lines = 0
    for raw in text.splitlines():
        line = raw.strip()
        if not line or line.startswith("#") or line == "control":
            continue
        try:
            parsed = _parse_line(line)
        except ValueError:
            determined = False
            continue
        if parsed is None:
            continue
        name, selects, answer = parsed
        if name == "products":
            course_lines += 1
            if not selects or any(rows or not keys for rows, keys in selects):
                determined = False
            for _, keys in selects:
                install.extend(k for k in keys if k not in install)
        elif name == "uninstall":
            course_lines += 1
            if answer == UNINSTALL_ALL:
                remove_all = True
            elif answer == UNINSTALL_SELECTED:
                if not selects or any(rows or not keys for rows, keys in selects):
                    determined = False
                for _, keys in selects:
                    remove.extend(k for k in keys if k not in remove)
    if course_lines == 0:
        determined = False
    return {"install": install, "remove": remove, "remove_all": remove_all,
            "determined": determined}


def nuvel_setup_plan(listing, courses):
    """Whether replaying the answer file on a host has anything to do.

    `listing` is the host's `nuvel-setup --list --json` object, `courses` what
    nuvel_answer_courses() made of the answer file. Returns {"run": bool, "reason": text,
    "install": [folders to install or update], "remove": [installed folders to remove]}.
    """
    if listing.get("format") != 1:
        raise ValueError("unknown --list --json format %r" % listing.get("format"))
    source = {c["folder"]: c["status"] for c in listing.get("source_courses", [])}
    installed = [c["folder"] for c in listing.get("installed_courses", [])]
    plan = {"run": False, "reason": "", "install": [], "remove": []}
    if not courses["determined"]:
        plan["run"] = True
        plan["reason"] = ("the answer file does not name its courses by key: "
                          "run, and take what changed from the summary line")
        return plan
    missing = [k for k in courses["install"] if k not in source]
    if missing:
        # The program stops with exit status 3 naming the key: let it say so.
        plan["run"] = True
        plan["reason"] = "not on the source: " + ", ".join(missing)
        return plan
    plan["install"] = [k for k in courses["install"] if source[k] in STATUSES_TO_INSTALL]
    plan["remove"] = [k for k in courses["remove"] if k in installed]
    if courses["remove_all"]:
        plan["remove"] = list(installed)
    if plan["install"] or plan["remove"]:
        plan["run"] = True
        parts = []
        if plan["install"]:
            parts.append("to install: " + ", ".join(
                "%s (%s)" % (k, source[k]) for k in plan["install"]))
        if plan["remove"]:
            parts.append("to remove: " + ", ".join(plan["remove"]))
        plan["reason"] = "; ".join(parts)
    else:
        plan["reason"] = "nothing to do: " + (", ".join(
            "%s is %s" % (k, source[k]) for k in courses["install"]) or "no course to install")
    return plan


def nuvel_summary_counts(stderr):
    """The counts of the last summary line on nuvel-setup's standard error:
    {"found": bool, "installed": n, "updated": n, "removed": n, "failed": n, "exit": n,
     "log": the log's path ("" when the line names none), "line": text,
     "messages": the other lines of the program that are not progress (what went wrong)}.
    """
    result = {"found": False, "installed": 0, "updated": 0, "removed": 0, "failed": 0,
              "exit": None, "log": "", "line": "", "messages": []}
    progress = re.compile(r"nuvel-setup: (summary: |installing |updating |removed |\S+: \d+%$)")
    result["messages"] = [l for l in stderr.splitlines()
                          if l.startswith("nuvel-setup: ") and not progress.match(l)]
    lines = [l for l in stderr.splitlines() if l.startswith("nuvel-setup: summary: ")]
    if not lines:
        return result
    line = lines[-1]
    result["found"] = True
    result["line"] = line
    for field in ("installed", "updated", "removed", "failed"):
        m = re.search(r"[:,] %s (\d+)" % field, line)
        if m:
            result[field] = int(m.group(1))
    m = re.search(r"; log (.*); exit status \d+\s*$", line)
    if m and m.group(1) != "(none)":
        result["log"] = m.group(1)
    m = re.search(r"; exit status (\d+)\s*$", line)
    if m:
        result["exit"] = int(m.group(1))
    return result


class FilterModule(object):
    def filters(self):
        return {
            "nuvel_answer_courses": nuvel_answer_courses,
            "nuvel_setup_plan": nuvel_setup_plan,
            "nuvel_summary_counts": nuvel_summary_counts,
        }
