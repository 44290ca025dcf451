#!/usr/bin/env python3
"""What the Linux package installs, checked against the program it describes:
the options in zq-update --help, its manual page's source and
docs/command-line.md are the same; the manual pages render and name every
option; bash completion offers every option, the modes, "list" and file names;
the udev rule matches the adapters the tool takes and sets only the access tag
and the latency timer.

    dist_test.py ZQ_UPDATE SOURCE_DIR BUILD_DIR
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

failures = []


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what)
    if not ok:
        failures.append(what)


def help_options(zq_update):
    text = subprocess.run([zq_update, "--help"], capture_output=True, text=True, check=True).stdout
    options = set(re.findall(r"^[ \t]+(?:-\w, )?(--[a-z-]+)", text, re.M))
    # Qt 6 adds --help-all (Qt's own options too); Qt 5 has none.
    options.discard("--help-all")
    return options, text


def section(text, heading):
    m = re.search(r"^## %s\n(.*?)(?=^## |\Z)" % heading, text, re.M | re.S)
    return m.group(1) if m else ""


def man_options(source):
    return set(re.findall(r"^\* `(--[a-z-]+)", section(source, "Options"), re.M))


def doc_options(doc):
    found = set()
    for line in doc.splitlines():
        if line.startswith("| `"):
            found |= set(re.findall(r"--[a-z-]+", line.split("|")[1]))
    return found


def complete(completion, words, cwd):
    """COMPREPLY for the command line `words` (the last one being completed)."""
    script = 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); ' \
             '_zq_update; printf "%s\\n" "${COMPREPLY[@]}"'
    out = subprocess.run(["bash", "--norc", "--noprofile", "-c", script, "bash", completion] + words,
                         capture_output=True, text=True, cwd=cwd)
    return set(filter(None, out.stdout.split("\n"))), out.stderr


def main():
    zq_update, src, build = (os.path.abspath(a) for a in sys.argv[1:4])
    read = lambda *p: open(os.path.join(src, *p), encoding="utf-8").read()
    options, help_text = help_options(zq_update)
    check("--payload" in options and "--version" in options, "zq-update --help lists its options")

    man_source = read("docs", "man", "zq-update.1.md")
    in_man, in_doc = man_options(man_source), doc_options(read("docs", "command-line.md"))
    check(in_man == options, "the manual page's options are --help's (only in --help: %s, only in "
          "the page: %s)" % (sorted(options - in_man), sorted(in_man - options)))
    check(in_doc == options, "docs/command-line.md's options are --help's (only in --help: %s, "
          "only in the page: %s)" % (sorted(options - in_doc), sorted(in_doc - options)))
    modes = set(re.findall(r"^\* `([a-z-]+)`", section(man_source, "Modes"), re.M))
    check(modes == {"firmware-and-images", "images", "erase-images"}
          and all(m in help_text for m in modes), "the manual page names the three modes of --help")

    # The pages as CMake wrote them, rendered by man.
    man = shutil.which("man")
    for page in ("zq-update", "zq-updater"):
        path = os.path.join(build, "man", page + ".1")
        check(os.path.exists(path), "%s.1 was generated" % page)
        if not man or not os.path.exists(path):
            print("skip rendering %s.1: no man" % page)
            continue
        r = subprocess.run([man, "-l", path], capture_output=True, text=True,
                           env=dict(os.environ, MANWIDTH="200", MAN_KEEP_FORMATTING="0"))
        shown = re.sub(r".\x08", "", r.stdout)
        check(r.returncode == 0 and "NAME" in shown and not r.stderr.strip(),
              "man -l renders %s.1 without a warning %s" % (page, r.stderr.strip()))
        if page == "zq-update":
            missing = sorted(o for o in options if o not in shown)
            check(not missing, "the rendered zq-update(1) names every option (missing: %s)" % missing)

    # Completion, as bash calls it.
    completion = os.path.join(src, "dist", "linux", "zq-update.bash-completion")
    with tempfile.TemporaryDirectory() as tmp:
        os.mkdir(os.path.join(tmp, "update"))
        open(os.path.join(tmp, "units.jsonl"), "w").close()
        offered, err = complete(completion, ["zq-update", "--"], tmp)
        check(not err, "the completion runs without an error %s" % err)
        check(options <= offered, "completion offers every option (missing: %s)" % sorted(options - offered))
        # --package names an update package; the program gets it with the package reader.
        check(offered - options <= {"--package"}, "completion offers no option the program lacks: %s"
              % sorted(offered - options - {"--package"}))
        check("list" in complete(completion, ["zq-update", ""], tmp)[0], "completion offers list")
        check(complete(completion, ["zq-update", "list", "--"], tmp)[0] == {"--json", "--help"},
              "after list: --json and --help")
        check(complete(completion, ["zq-update", "verify", "u.zqpkg", "--"], tmp)[0] == {"--key", "--help"},
              "completion offers only --key after verify")
        check("--report" not in complete(completion, ["zq-update", "--check", "--"], tmp)[0],
              "completion offers no --report with --check")
        check(complete(completion, ["zq-update", "--mode", ""], tmp)[0] == modes,
              "completion offers the three modes after --mode")
        check(complete(completion, ["zq-update", "--payload", "up"], tmp)[0] == {"update"},
              "completion offers folders after --payload")
        for option in ("--package", "--station", "--log", "--report"):
            check(complete(completion, ["zq-update", option, "un"], tmp)[0] == {"units.jsonl"},
                  "completion offers files after %s" % option)

    # The udev rule: the adapters PortDiscovery takes, and only the two settings.
    maker = re.search(r'kAdapterMaker\[\] = "([^"]+)"', read("engine", "PortDiscovery.h")).group(1)
    rules = [l for l in read("dist", "linux", "70-zq-updater.rules").splitlines()
             if l.strip() and not l.startswith("#")]
    parsed = []
    for line in rules:
        keys = re.findall(r'\s*([A-Z_]+(?:\{[a-z_]+\})?)\s*(==|!=|\+=|=|:=)\s*"([^"]*)"\s*,?', line)
        check("".join("%s%s\"%s\"" % k for k in keys).replace(" ", "")
              == line.replace(" ", "").replace(",", ""), "udev rule line parses: %s" % line)
        parsed.append(({(k, v) for k, op, v in keys if op in ("==", "!=")},
                       {(k, op, v) for k, op, v in keys if op not in ("==", "!=")}))
    settings = [p for p in parsed if p[1] and not any(k in ("GOTO", "LABEL") for k, _, _ in p[1])]
    want_match = ("ATTRS{manufacturer}", "*%s*" % maker)
    check(len(settings) == 2, "two rules set something")
    assigned = {frozenset(a) for _, a in settings}
    check(assigned == {frozenset({("TAG", "+=", "uaccess")}),
                       frozenset({("ATTR{latency_timer}", "=", "1")})},
          "the rules set exactly TAG+=\"uaccess\" and ATTR{latency_timer}=\"1\"")
    for match, assign in settings:
        check(want_match in match, "rule %s matches the maker %s" % (sorted(assign), maker))
        if ("TAG", "+=", "uaccess") in assign:
            check(("SUBSYSTEM", "tty") in match, "uaccess goes on the tty device")
        else:
            check({("SUBSYSTEM", "usb-serial"), ("DRIVER", "ftdi_sio")} <= match,
                  "the latency timer is set on the ftdi_sio usb-serial device")
    check(parsed[0][1] == {("GOTO", "=", "zq_updater_end")} and ("ACTION", "remove") in parsed[0][0]
          and parsed[-1][1] == {("LABEL", "=", "zq_updater_end")},
          "a removed device skips the rules")

    print("%d failure(s)" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
