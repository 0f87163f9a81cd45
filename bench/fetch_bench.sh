#!/usr/bin/env bash
# Times whole tavrel-update processes (start-up, the embedded database, fetch,
# test, unpacking into the update folder, install, flush to the disk)
# against reference tools doing the same work, run in turn A B A B in the
# same run; reports the medians and their ratio.
#
#   download 512 MiB   tavrel-update, HTTP mode, a file that is no archive
#                      (fetched, then refused at opening)   vs  curl -s -o
#   copy 512 MiB       the same in copy mode                vs  cp
#   update 256 MiB     tavrel-update, HTTP mode, a release of 64 files of
#                      4 MiB installed over the previous one
#                      vs  curl -o, bsdtar -xOf (test), bsdtar -xf (extract),
#                      sync of the unpacked files and the folder, rm
#
# Usage: bench/fetch_bench.sh BUILD_DIR [WORK_DIR]   (RUNS pairs, default 5)
# DB=server reads the parameters through the local Firebird server
# (scripts/start-firebird-server) instead of the embedded engine.
# ONLY=update times the update alone; PASSES=N traces N more updates with
# strace and prints what each pass of each cost (bench/update_passes.awk).
set -euo pipefail

build=$(cd "${1:?usage: fetch_bench.sh BUILD_DIR [WORK_DIR]}" && pwd)
work=${2:-$(mktemp -d /tmp/tavrel-bench-XXXXXX)}
runs=${RUNS:-5}
here=$(cd "$(dirname "$0")" && pwd)
bin="$build/bin"
mkdir -p "$work/serve" "$work/out" "$work/program" "$work/reference"
work=$(cd "$work" && pwd)
export no_proxy=127.0.0.1 NO_PROXY=127.0.0.1

# Inputs, kept between runs: 512 MiB of random bytes, a release of 64 files.
[ -f "$work/serve/big.bin" ] || head -c $((512 << 20)) /dev/urandom >"$work/serve/big.bin"
if [ ! -f "$work/serve/release.rar" ]; then
  mkdir -p "$work/release"
  for i in $(seq -w 1 64); do head -c $((4 << 20)) /dev/urandom >"$work/release/file$i.bin"; done
  "$bin/tavrel-make-rar" "$work/release" "$work/serve" release >/dev/null
  rm -rf "$work/release"
fi

# The workstation: the updater, the library, its settings and its own
# embedded database publishing the location.
program="$work/program"
cp "$bin/tavrel-update" "$bin/libunrar.so" "$program/"
db="$program/urv.fdb"
if [ ! -f "$db" ]; then
  env -u ISC_USER -u ISC_PASSWORD isql-fb -q -bail >/dev/null <<SQL
create database '$db' user 'SYSDBA' password 'masterkey' default character set UTF8;
create table TAVREL_PARAMS (NEWVERSIONPASS varchar(1024), DOUPDATE integer);
insert into TAVREL_PARAMS values ('', 0);
commit;
quit;
SQL
fi
server=
connect="$db"
if [ "${DB:-embedded}" = server ]; then
  server=127.0.0.1
  connect="$server:$db"
  chown firebird:firebird "$db"
fi
cat >"$program/Tavrel.INI" <<INI
[LoginU]
DB=0
Server=$server
Database=$db
UserName=SYSDBA
Password=55173415291f45173d
INI
publish() { # location, mode
  env -u ISC_USER -u ISC_PASSWORD isql-fb -q -bail -user SYSDBA -password masterkey "$connect" >/dev/null <<SQL
update TAVREL_PARAMS set NEWVERSIONPASS = '$1', DOUPDATE = $2;
commit;
quit;
SQL
}

# The loopback server; its stdin is our pipe, so it ends with this script.
coproc SERVER { exec python3 "$here/../tests/support/http_test_server.py" --root "$work/serve"; }
read -r port <&"${SERVER[0]}"
base="http://127.0.0.1:$port/files"

now() { date +%s.%N; }
since() { awk -v a="$(now)" -v b="$1" 'BEGIN { printf "%.3f", a - b }'; }
median() { sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else printf "%.3f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

# One timed whole-process run of the updater from the work folder; `expect`
# is its exit code (2: a download that is no archive is refused at opening).
updater() { # expect
  local t0 code=0
  t0=$(now)
  (cd "$work/out" && "$program/tavrel-update" >/dev/null 2>"$work/updater.err") || code=$?
  [ "$code" -eq "$1" ] || { echo "tavrel-update exited $code, expected $1:" >&2; cat "$work/updater.err" >&2; exit 1; }
  since "$t0"
}
timed() { local t0; t0=$(now); "$@"; since "$t0"; }

reference_download() { curl -s -o "$work/out/ref.bin" "$base/big.bin"; }
reference_copy() { cp "$work/serve/big.bin" "$work/out/ref.bin"; }
reference_update() {
  (cd "$work/out" && curl -s -o NewExe.zip "$base/release.rar" && bsdtar -xOf NewExe.zip >/dev/null &&
    bsdtar -xf NewExe.zip -C "$work/reference" && sync "$work/reference" "$work/reference"/* && rm NewExe.zip)
}

pairs() { # name, expected exit code, reference function
  local own=() ref=()
  for _ in $(seq "$runs"); do
    rm -f "$work/out/"* "$program/NewExe.zip"; own+=("$(updater "$2")")
    rm -f "$work/out/"*; ref+=("$(timed "$3")")
  done
  rm -f "$work/out/"*
  local o r
  o=$(printf '%s\n' "${own[@]}" | median); r=$(printf '%s\n' "${ref[@]}" | median)
  printf '%-26s %10s %10s %7s   (program: %s; reference: %s)\n' "$1" "$r" "$o" "$(ratio "$o" "$r")" \
    "${own[*]}" "${ref[*]}"
}

sync
printf '%-26s %10s %10s %7s\n' measurement reference program ratio
if [ "${ONLY:-}" != update ]; then
  publish "$base/big.bin" 1
  pairs "download 512 MiB" 2 reference_download
  publish "$work/serve/big.bin" 0
  pairs "copy 512 MiB" 2 reference_copy
fi
# The first install and the first extraction fill the folders; the timed
# runs then replace 64 files, as an update does.
publish "$base/release.rar" 1
updater 0 >/dev/null; reference_update
pairs "update 256 MiB, 64 files" 0 reference_update
cmp -s "$program/file64.bin" "$work/reference/file64.bin" || { echo "installed files differ" >&2; exit 1; }

# Pass by pass: a few system calls mark where each pass begins (strace's
# filter stops the process at those alone).
for i in $(seq "${PASSES:-0}"); do
  rm -f "$work/out/"*
  (cd "$work/out" && strace -f --seccomp-bpf -ttt -qq -o "$work/passes.trace" \
    -e trace=connect,rename,mkdir,openat,fsync,exit,exit_group "$program/tavrel-update" >/dev/null 2>&1)
  echo "update $i, pass by pass (s):"
  awk -f "$here/update_passes.awk" "$work/passes.trace"
done

# What every run pays before its fetch: start-up, lock, recovery, database
# (a source that does not exist ends the run there, exit 1).
publish "$work/serve/absent.rar" 0
fixed=()
for _ in $(seq "$runs"); do fixed+=("$(updater 1)"); done
printf 'start-up and database only: median %s s (%s)\n' "$(printf '%s\n' "${fixed[@]}" | median)" "${fixed[*]}"
