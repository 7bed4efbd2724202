"""Installs the CrashLog package as built and builds a project of its own against it, as a program
outside this tree would: the package tests' common steps."""
import os
import shutil
import subprocess
import sys


def run(command, **kwargs):
    result = subprocess.run(command, capture_output=True, text=True, **kwargs)
    if result.returncode != 0:
        print("$ " + " ".join(command))
        print(result.stdout[-4000:])
        print(result.stderr[-4000:])
        sys.exit(f"FAILED: {os.path.basename(command[0])} exited with {result.returncode}")
    return result


def install_and_build(args, source_dir, build_dir, options_variable):
    """A fresh install into args.work/prefix (nothing left from an older package may satisfy the
    project), then configure and build source_dir in build_dir with the test's options file."""
    prefix = os.path.join(args.work, "prefix")
    shutil.rmtree(prefix, ignore_errors=True)
    run([args.cmake, "--install", args.build, "--prefix", prefix])
    run([args.cmake, "-S", source_dir, "-B", build_dir, "-G", args.generator,
         "-DCMAKE_TOOLCHAIN_FILE=" + args.toolchain,
         "-DCrashLog_DIR=" + os.path.join(prefix, "lib", "cmake", "CrashLog"),
         f"-D{options_variable}=" + args.options])
    run([args.cmake, "--build", build_dir])
