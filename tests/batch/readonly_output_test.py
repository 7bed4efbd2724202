#!/usr/bin/env python3
"""A job whose output folder is read-only, in the real window under Wine: the disabled test of
batch_refusal_tests, run inside a private mount namespace where its input's folder is a read-only
bind mount (the tests run as root, whom mode bits do not stop). Wine opens files in its server
process, so the namespace gets a Wine server of its own, on an overlay of the session's prefix.

Usage: readonly_output_test.py BATCH_REFUSAL_TESTS.exe WINE-RUN.sh"""

import os, re, subprocess, sys, tempfile

EXE, WINE_RUN = (os.path.abspath(a) for a in sys.argv[1:3])
IN_NAMESPACE = len(sys.argv) > 3 and sys.argv[3] == "--in-namespace"
TEST = "BatchWindow.DISABLED_AReadOnlyOutputFolderFailsTheJobWithItsReasonAndTheBatchGoesOn"


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def in_namespace():
    root = tempfile.mkdtemp(prefix="pelloran-readonly-")
    readonly = os.path.join(root, "readonly")
    os.mkdir(readonly)
    with open(os.path.join(readonly, "in.rm"), "wb") as f:
        f.write(b"#fake shrink=5\n" + bytes(4000))
    subprocess.run(["mount", "--bind", readonly, readonly], check=True)
    subprocess.run(["mount", "-o", "remount,bind,ro", readonly], check=True)
    # The mount stops root too.
    try:
        open(os.path.join(readonly, "probe"), "wb").close()
        sys.exit("the bind mount is not read-only")
    except OSError:
        pass

    session = os.environ["PELLORAN_WINE_SESSION"]
    env_text = open(os.path.join(session, "env")).read()
    prefix = re.search(r"WINEPREFIX='([^']*)'", env_text).group(1)
    for d in ("upper", "work", "prefix", "session"):
        os.mkdir(os.path.join(root, d))
    merged = os.path.join(root, "prefix")
    subprocess.run(["mount", "-t", "overlay", "overlay", "-o", "lowerdir=%s,upperdir=%s,workdir=%s" % (
        prefix, os.path.join(root, "upper"), os.path.join(root, "work")), merged], check=True)
    with open(os.path.join(root, "session", "env"), "w") as f:
        f.write(env_text.replace(prefix, merged))
    env = dict(os.environ, PELLORAN_WINE_SESSION=os.path.join(root, "session"),
               PELLORAN_READONLY_FOLDER=windows_path(readonly))
    try:
        result = subprocess.run([WINE_RUN, EXE, "--gtest_also_run_disabled_tests", "--gtest_filter=" + TEST],
                                env=env, stdin=subprocess.DEVNULL, capture_output=True, timeout=240,
                                cwd=os.path.dirname(EXE))
    finally:
        subprocess.run(["wineserver", "-k"], env=dict(os.environ, WINEPREFIX=merged), stderr=subprocess.DEVNULL)
    out = result.stdout.decode("gbk", "replace") + result.stderr.decode("gbk", "replace")
    print(out)
    if result.returncode != 0 or "[  PASSED  ] 1 test" not in out:
        sys.exit("the read-only case failed (exit code %d)" % result.returncode)


def main():
    if IN_NAMESPACE:
        in_namespace()
        return
    unshare = ["unshare", "--mount"]
    if os.geteuid() != 0:
        unshare[1:1] = ["--user", "--map-root-user"]
    result = subprocess.run(unshare + ["--", sys.executable, os.path.abspath(__file__), EXE, WINE_RUN,
                                       "--in-namespace"], stdin=subprocess.DEVNULL, timeout=300)
    sys.exit(result.returncode)


if __name__ == "__main__":
    main()
