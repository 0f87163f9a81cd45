#!/usr/bin/env bash
# Times the program's fetch and update against reference tools in the same
# run: a download against curl -o, a copy against cp, and a whole update
# (download, test, unpack) against curl plus bsdtar run twice (test, extract).
# Usage: bench/fetch_bench.sh BUILD_DIR [WORK_DIR]
# Each measurement is the best of RUNS (default 3) runs.
set -euo pipefail

build=$(cd "${1:?usage: fetch_bench.sh BUILD_DIR [WORK_DIR]}" && pwd)
work=${2:-$(mktemp -d /tmp/tavrel-bench-XXXXXX)}
runs=${RUNS:-3}
here=$(cd "$(dirname "$0")" && pwd)
tool="$build/bin/bench_fetch"
mkdir -p "$work/serve" "$work/out" "$work/program"
export no_proxy=127.0.0.1 NO_PROXY=127.0.0.1

# Test data: 512 MiB of incompressible bytes and a 256 MiB stored archive.
[ -f "$work/serve/big.bin" ] || head -c $((512 << 20)) /dev/urandom > "$work/serve/big.bin"
[ -f "$work/serve/release.rar" ] || "$tool" make-archive "$work/serve" release 256

# The loopback server; its stdin is our pipe, so it ends with this script.
coproc SERVER { exec python3 "$here/../tests/support/http_test_server.py" --root "$work/serve"; }
read -r port <&"${SERVER[0]}"
base="http://127.0.0.1:$port/files"

now() { date +%s.%N; }
best() { sort -g | head -1; }
since() { awk -v a="$(now)" -v b="$1" 'BEGIN { printf "%.3f", a - b }'; }
seconds() { local t0; t0=$(now); "$@" >/dev/null; since "$t0"; }
# The program's figure is the operation as bench_fetch times it inside: its
# own start-up (loading libcurl and OpenSSL, 20-40 ms) is not part of a fetch.
inner() { "$@" | sed -n 's/.* seconds=\([0-9.]*\).*/\1/p'; }
peak_kib() { "$@" | sed -n 's/.*peak_kib=\([0-9]*\).*/\1/p'; }

sync
ref=(); own=()
for _ in $(seq "$runs"); do
  rm -f "$work/out/"*; ref+=("$(seconds curl -s -o "$work/out/ref.bin" "$base/big.bin")")
  rm -f "$work/out/"*; own+=("$(inner "$tool" download "$base/big.bin" "$work/out/NewExe.zip")")
done
dl_ref=$(printf '%s\n' "${ref[@]}" | best); dl_own=$(printf '%s\n' "${own[@]}" | best)
dl_peak=$(peak_kib "$tool" download "$base/big.bin" "$work/out/NewExe.zip")
cmp -s "$work/serve/big.bin" "$work/out/NewExe.zip" || { echo "download differs" >&2; exit 1; }

ref=(); own=()
for _ in $(seq "$runs"); do
  rm -f "$work/out/"*; ref+=("$(seconds cp "$work/serve/big.bin" "$work/out/ref.bin")")
  rm -f "$work/out/"*; own+=("$(inner "$tool" copy "$work/serve/big.bin" "$work/out/NewExe.zip")")
done
cp_ref=$(printf '%s\n' "${ref[@]}" | best); cp_own=$(printf '%s\n' "${own[@]}" | best)

ref=(); own=()
for _ in $(seq "$runs"); do
  rm -rf "$work/out/"* "$work/program/"*
  t0=$(now)
  (cd "$work/out" && curl -s -o NewExe.zip "$base/release.rar" && bsdtar -xOf NewExe.zip >/dev/null \
     && bsdtar -xf NewExe.zip -C "$work/program" && rm NewExe.zip)
  ref+=("$(since "$t0")")
  rm -rf "$work/out/"* "$work/program/"*
  own+=("$(cd "$work/out" && inner "$tool" update "$base/release.rar" "$work/program")")
done
up_ref=$(printf '%s\n' "${ref[@]}" | best); up_own=$(printf '%s\n' "${own[@]}" | best)

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
printf '%-34s %10s %10s %7s\n' measurement reference program ratio
printf '%-34s %10.3f %10.3f %7s\n' "download 512 MiB vs curl -o" "$dl_ref" "$dl_own" "$(ratio "$dl_own" "$dl_ref")"
printf '%-34s %10.3f %10.3f %7s\n' "copy 512 MiB vs cp" "$cp_ref" "$cp_own" "$(ratio "$cp_own" "$cp_ref")"
printf '%-34s %10.3f %10.3f %7s\n' "update 256 MiB vs curl+bsdtar x2" "$up_ref" "$up_own" "$(ratio "$up_own" "$up_ref")"
echo "peak memory of the download: $((dl_peak / 1024)) MiB"
