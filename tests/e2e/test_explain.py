"""What the real program says and shows with -x and the filters, over the
loopback port: the explanation at the end of a line, the filters acting on
the screen but not on the MIDI file log, and what a wrong filter gets."""

import os
import sys

sys.dont_write_bytecode = True   # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from smfread import notes_on  # noqa: E402
from test_cli import EXIT_PROMPT, run  # noqa: E402
from vtpty import check, run_tests, scratch_dir  # noqa: E402

LOOP = ["-o", "loop", "-i", "loop"]


def test_explain_names_the_controller_and_the_identity_request(binary):
    # the last two lines send F0 7E 7F 06 01 F7
    status, out, err = run(binary, "-x", *LOOP, "-s", "K 07 64", "-s", "I 7E FF FF", "-s", "S \\7F\\06\\01")
    check(status == 0 and err == "", "status %d, stderr %r" % (status, err))
    check("  Control Change   b0  7 64  ; ch 1 Volume = 100\n" in out, "no Volume:\n%s" % out[-2000:])
    check("  SysEx( 7e )  \\7f  \\6  \\1  EOX  ; Universal Non-Real Time, device 7f (all): Identity Request\n"
          in out, "no identity request:\n%s" % out[-2000:])


def test_filters_hide_from_the_screen_not_from_the_log(binary):
    with scratch_dir("filters") as work:
        status, out, err = run(binary, *LOOP, "--hide=note", "--channel=1", "--smf", "log.mid",
                               "-s", "N 3C 40", "-s", "K 07 64", "-s", "M 2", "-s", "K 07 65", cwd=work)
        check(status == 0 and err == "", "status %d, stderr %r" % (status, err))
        check("MIDI Note ON" not in out and "b1  7 65" not in out, "a hidden message shown:\n%s" % out[-2000:])
        check(out.endswith("  Control Change   b0  7 64\nthe filters hid 2 messages\n" + EXIT_PROMPT + "\n"),
              "the shown line or the count is missing:\n%s" % out[-2000:])
        with open(os.path.join(work, "log.mid"), "rb") as f:
            check([n for _, n in notes_on(f.read())] == [0x3C], "the hidden note is not in the log")


def test_a_wrong_filter_lists_the_kinds(binary):
    kinds = "note, poly, cc, program, pressure, bend, sysex, mtc, spp, song, tune, clock, sense, transport, reset"
    for args, message in ((["--hide=notes"], "unknown kind 'notes' in --hide (kinds: %s)" % kinds),
                          (["--only="], "an empty kind in --only (kinds: %s)" % kinds),
                          (["--only=note", "--hide=cc"], "--only and --hide exclude each other (kinds: %s)" % kinds),
                          (["--channel=17"], "invalid channel list '17' (channels 1 to 16, as 1,10 or 1-4)")):
        status, out, err = run(binary, *args)
        check(status == 2 and out == "", "%s: status %d, stdout %r" % (args, status, out))
        first, rest = err.split("\n", 1)
        check(first == "voltanis: " + message, "%s: first line %r" % (args, first))
        check(rest.startswith("Usage: voltanis") and "KINDS is a comma-separated list of:\n  note, poly" in rest,
              "%s: no usage with the kinds" % args)


if __name__ == "__main__":
    run_tests()
