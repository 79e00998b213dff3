"""release.reproducible: a clone of HEAD, built in another folder and time
zone, gives the same packages and SHA256SUMS; a signed build is rebuilt with
its own signatures, as anyone can rebuild it (packaging/README.md). Skipped
(77) on a tree with uncommitted changes, which a clone lacks; failed on a
build configured before the last commit."""
import os
import subprocess
import sys

from common import ROOT, SKIPPED, expect, main, run, same_bytes


def check(release):
    def git(*args):
        return run(["git", "-C", ROOT] + list(args)).decode()

    if subprocess.run(["git", "-C", ROOT, "rev-parse"], capture_output=True).returncode != 0:
        print("not a git checkout: nothing to compare with; skipped")
        sys.exit(SKIPPED)
    changes = git("status", "--porcelain")
    if changes:
        print("the work tree has uncommitted changes, which a clone of HEAD lacks; "
              "skipped:\n" + changes)
        sys.exit(SKIPPED)
    expect(release.cache("CMAKE_HOME_DIRECTORY") == ROOT, "the build is not of this source tree")
    expect(release.cpack_setting("CPACK_SALES_TALLY_EPOCH") == git("log", "-1", "--format=%ct").strip(),
           "the build was configured before the last commit: configure it again")
    preset = os.path.basename(release.build)
    clone = os.path.join(release.scratch, "sales_tally")
    run(["git", "clone", "-q", ROOT, clone])
    env = dict(os.environ, TZ="Asia/Tokyo")
    if os.environ.get("SALES_TALLY_SIGN_CERT") or release.cache("SALES_TALLY_SIGN_CERT", missing=""):
        for name in [n for n in env if n.startswith("SALES_TALLY_SIGN_")]:
            del env[name]
        env["SALES_TALLY_SIGNATURES_FROM"] = release.build
        print("signed: the clone takes the build's signatures")
    run(["cmake", "--preset", preset, "-DBUILD_TESTING=OFF"], cwd=clone, env=env)
    run(["cmake", "--build", "--preset", preset], cwd=clone, env=env)
    run(["cpack", "--preset", preset], cwd=clone, env=env)
    second = os.path.join(clone, "build", preset)
    for name in release.packages() + ["SHA256SUMS"]:
        expect(same_bytes(os.path.join(release.build, name), os.path.join(second, name)),
               "%s differs when built again (diffoscope shows where)" % name)
        print("the same:", name)


if __name__ == "__main__":
    main(check)
