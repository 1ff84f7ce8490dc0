#!/usr/bin/env bash
# Runs one of the README's two commands as a new user would: in a Debian 12 root made fresh
# from the package registry with mmdebstrap, on a clone of this repository's committed HEAD.
# For people who change the install steps (scripts/install-deps.sh); run by hand, as root, not
# in CI. Reports the command's time and the root's package counts before and after, and for
# the main job checks what the README promises. docs/install.md keeps the results.
set -euo pipefail

usage() {
  cat <<'EOF'
Usage: scripts/fresh-debian-root.sh [options] main|test

Makes a fresh Debian 12 root (mmdebstrap --variant=apt bookworm), clones this repository's
committed HEAD into /root/kestrel inside it, mounts /proc, /dev and /sys, and runs in a chroot
  main   bash scripts/run-main.sh, then checks: no foreign architecture, none of the test
         set's heavy packages, kserve answers a WMS GetMap with a PNG and serves the viewer
  test   bash .ci/run (scripts/test.sh)
then prints the time and the package counts. Needs root and Debian's mmdebstrap.

Options (also as --opt=value):
  --dir DIR        make the root in DIR (new or empty; default: a new folder in /var/tmp)
  --keep           keep the root afterwards (default: delete it)
  --listen ADDR    kserve's address in the main job (KSERVE_LISTEN; default 127.0.0.1:18517):
                   the root shares the machine's loopback network, so choose a free port
  --log FILE       the command's output (default: fresh-root-<command>.log in the root's parent)
  --help, --version
EOF
}

repo=$(cd "$(dirname "$0")/.." && pwd)
dir= keep=0 listen=127.0.0.1:18517 log= command=
while [ $# -gt 0 ]; do
  case $1 in
    --dir | --listen | --log)
      [ $# -ge 2 ] || { echo "fresh-root: $1 needs a value" >&2; exit 2; }
      declare "${1#--}=$2"; shift 2; continue ;;
    --dir=* | --listen=* | --log=*) opt=${1%%=*}; declare "${opt#--}=${1#*=}" ;;
    --keep) keep=1 ;;
    -h | --help) usage; exit 0 ;;
    --version)
      sed -n 's/^project(kestrel VERSION \([0-9.]*\).*/fresh-debian-root (kestrel) \1/p' \
        "$repo/CMakeLists.txt"
      exit 0 ;;
    main | test) command=$1 ;;
    *) echo "fresh-root: unknown argument '$1' (see --help)" >&2; exit 2 ;;
  esac
  shift
done
[ -n "$command" ] || { usage >&2; exit 2; }
if [ "$(id -u)" -ne 0 ]; then echo "fresh-root: run as root (chroot and mounts)" >&2; exit 1; fi
command -v mmdebstrap >/dev/null || { echo "fresh-root: needs mmdebstrap (apt-get install mmdebstrap)" >&2; exit 1; }

if [ -z "$dir" ]; then
  dir=$(mktemp -d /var/tmp/kestrel-root.XXXXXX)
elif [ -e "$dir" ] && [ -n "$(ls -A "$dir")" ]; then
  echo "fresh-root: $dir is not empty" >&2; exit 1
fi
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
log=${log:-$(dirname "$dir")/fresh-root-$command.log}
say() { echo "fresh-root: $*"; }

# Processes still running in the root (kserve, a bus, Wine): ended by their ids.
root_pids() {
  local p
  for p in /proc/[0-9]*; do
    if [ "$(readlink "$p/root" 2>/dev/null)" = "$dir" ]; then echo "${p#/proc/}"; fi
  done
}
cleanup() {
  local pids
  pids=$(root_pids)
  if [ -n "$pids" ]; then
    kill $pids 2>/dev/null || true
    sleep 2
    pids=$(root_pids)
    if [ -n "$pids" ]; then kill -KILL $pids 2>/dev/null || true; fi
  fi
  for m in dev sys proc; do
    if mountpoint -q "$dir/$m"; then umount -R -l "$dir/$m" || true; fi
  done
  if [ $keep -eq 0 ]; then
    rm -rf --one-file-system "$dir"
  else
    say "kept the root in $dir"
  fi
}
trap cleanup EXIT

say "making a Debian 12 root in $dir"
mmdebstrap --quiet --variant=apt bookworm "$dir"
cp /etc/resolv.conf "$dir/etc/resolv.conf"
git clone --quiet --no-hardlinks "$repo" "$dir/root/kestrel"
say "cloned $(git -C "$dir/root/kestrel" log -1 --format='%h %s')"
mount -t proc proc "$dir/proc"
for m in sys dev; do
  mount --rbind "/$m" "$dir/$m"
  mount --make-rslave "$dir/$m"
done

# The root reaches the registries as this machine does: a machine behind a proxy that has a
# certificate authority of its own names it in NODE_EXTRA_CA_CERTS for Node.js and npm (the
# viewer's packages come over HTTPS), and the root gets the same file and variable.
extra_env=()
if [ -n "${NODE_EXTRA_CA_CERTS:-}" ] && [ -f "$NODE_EXTRA_CA_CERTS" ]; then
  mkdir -p "$dir/etc/ssl"
  cp "$NODE_EXTRA_CA_CERTS" "$dir/etc/ssl/fresh-root-extra-ca.crt"
  extra_env=(NODE_EXTRA_CA_CERTS=/etc/ssl/fresh-root-extra-ca.crt)
fi
in_root() {
  chroot "$dir" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "${extra_env[@]}" "$@"
}
count() { in_root dpkg-query -W -f='${db:Status-Abbrev}\n' | grep -c '^ii'; }

before=$(count)
case $command in
  main) run=(env KSERVE_LISTEN="$listen" bash scripts/run-main.sh) ;;
  test) run=(env CI=true bash .ci/run) ;;
esac
say "running '${run[*]}' in the root (output also in $log)"
start=$(date +%s)
set +e
in_root bash -c 'cd /root/kestrel && exec "$@" </dev/null' bash "${run[@]}" 2>&1 | tee "$log"
status=${PIPESTATUS[0]}
set -e
seconds=$(($(date +%s) - start))
after=$(count)

checks=0
check() {  # check DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@"; then say "ok: $what"; else say "FAILED: $what"; checks=1; fi
}
if [ "$command" = main ] && [ "$status" -eq 0 ]; then
  heavy='^(wine|wine64|wine32|g\+\+-mingw-w64.*|gcc-mingw-w64.*|chromium|lintian|xvfb|imagemagick|nginx|wrk)$'
  installed_heavy=$(in_root dpkg-query -W -f='${db:Status-Abbrev} ${Package}\n' |
                    awk '$1 == "ii" {print $2}' | grep -E "$heavy" || true)
  check "no foreign architecture" test -z "$(in_root dpkg --print-foreign-architectures)"
  check "none of the test set's heavy packages${installed_heavy:+ (installed: $installed_heavy)}" \
    test -z "$installed_heavy"
  getmap="http://$listen/wms?SERVICE=WMS&VERSION=1.3.0&REQUEST=GetMap&LAYERS=map&STYLES=&CRS=EPSG:3826&BBOX=297674,2768474,304794,2773994&WIDTH=356&HEIGHT=276&FORMAT=image/png"
  answer=$dir.answer
  check "kserve answers a GetMap with a PNG" \
    bash -c 'curl -fsS -o "$2" "$1" && [ "$(head -c 8 "$2" | od -An -tx1 | tr -d " \n")" = \
             89504e470d0a1a0a ]' bash "$getmap" "$answer"
  check "kserve serves the map viewer at /" \
    bash -c 'curl -fsS -o "$2" "$1" && grep -q "<script type=\"module\"" "$2"' \
    bash "http://$listen/" "$answer"
  rm -f "$answer"
fi

say "'${run[*]}' exited $status after $((seconds / 60)) min $((seconds % 60)) s;" \
    "packages: $before before, $after after (+$((after - before))); $(date -u +%F)"
[ "$status" -eq 0 ] && [ $checks -eq 0 ]
