# Reads `strace -f -ttt` of one tavrel-update run (the calls fetch_bench.sh
# traces) and prints how long each pass of the update took, in seconds.
# Marks: the first connect (fetch starts), the download's rename to the
# archive (fetched), the staging folder made (the test is over), the creation
# mask read (unpacked; the modes are set), the first fsync (the flush),
# the journal (the install), the record's temporary (written after the
# digest is in), exit_group. The digest runs on a thread of its own: the
# thread that opens the held archive without O_CLOEXEC (an ifstream).
function mark(name) { if (!(name in at)) at[name] = $2 }
NR == 1 { main = $1; at["start"] = $2 }
$1 == main && /connect\(.*AF_INET/ { mark("connect") }
$1 == main && /rename\(.*download\.part", "NewExe\.zip"/ { mark("fetched") }
$1 == main && /mkdir\(.*\/staging"/ { mark("staging") }
$1 == main && /\/proc\/self\/status/ { mark("modes") }
$1 == main && /fsync\(/ { mark("flush") }
$1 == main && /journal\.new/ { mark("journal") }
$1 == main && /\.installed\.part/ { mark("record") }
$1 == main && /exit_group/ { mark("end") }
$1 != main && /openat\(AT_FDCWD, "\/proc\/self\/fd\/[0-9]+", O_RDONLY[ )<]/ { digest = $1; mark("digest") }
$1 == digest && /exit\(/ { mark("digested") }
function span(label, from, to) {
    if ((from in at) && (to in at))
        printf "  %-44s %7.3f\n", label, at[to] - at[from]
}
END {
    span("start-up, lock, database", "start", "connect")
    span("fetch (download)", "connect", "fetched")
    span("test (and the archive pinned)", "fetched", "staging")
    span("unpack into the staging area", "staging", "modes")
    span("permission bits of the staged files", "modes", "flush")
    span("flush of the staged files", "flush", "journal")
    span("install: journal, moves, commit, clean-up", "journal", "record")
    span("record, end of the process", "record", "end")
    span("whole run", "start", "end")
    span("digest (own thread, from the test on)", "digest", "digested")
    if (("digested" in at) && ("record" in at))
        printf "  %-44s %7.3f\n", "digest finished before the record needed it", at["record"] - at["digested"]
}
