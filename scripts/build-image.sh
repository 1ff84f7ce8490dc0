#!/usr/bin/env bash
# Builds kserve's container image (and, on request, the nginx image of the compose file) with
# podman, from Debian's package registry alone: no container registry is needed.
#
#   base   mmdebstrap unpacks the Debian packages that the project's packages depend on (and
#          busybox, for the entry point and the health check) into a root file system, without
#          running any package script; a base image is made of it and kept in podman's
#          storage under a tag that is a digest of its recipe, so later builds reuse it.
#   image  the project's packages (cpack) unpacked over the base, with the entry point and the
#          health check (deploy/container/). Its tag is VERSION-DIGEST, a digest of everything
#          that goes into it, and the build is reproducible: every time stamp is the commit's
#          (SOURCE_DATE_EPOCH).
# docs/deploy.md says how to run it.
set -euo pipefail

usage() {
  cat <<'EOF'
Usage: scripts/build-image.sh [options]

Builds the kserve image localhost/kestrel/kserve:VERSION-DIGEST (also tagged VERSION) with
podman and mmdebstrap, and prints its tag and size.

Options (also as --opt=value):
  --build DIR      the build folder whose packages go into the image: kserve and the sample
                   data set are built there if they are not yet, and cpack makes the packages
                   kestrel-engine and kestrel-sample-data (default: build)
  --debs DIR       take those two .deb packages from DIR instead (no build folder needed)
  --nginx          also build localhost/kestrel/nginx:VERSION-DIGEST, Debian's nginx for the
                   compose file (deploy/compose/)
  --mirror MIRROR  where Debian's packages come from, as mmdebstrap takes it: a mirror's
                   address, a sources.list line, or a sources file such as
                   /etc/apt/sources.list.d/debian.sources (default: deb.debian.org with
                   bookworm-updates and bookworm-security)
  --refresh-base   make the base images again (for Debian's updates since the last build)
  --source URL     the source repository named in the image's labels (default: git's
                   remote origin)
  --save FILE      also write the kserve image into FILE (podman save, docker-archive)
  --print-tag      print the tag the image would have, and build nothing
  --help, --version
Needs podman and mmdebstrap (scripts/install-deps.sh test installs them); as root, or as a
user that podman and mmdebstrap's unshare mode can run for.
EOF
}

repo=$(cd "$(dirname "$0")/.." && pwd)
build=$repo/build debs= nginx=0 mirror= refresh=0 save= print_tag=0 source=
while [ $# -gt 0 ]; do
  case $1 in
    --build | --debs | --mirror | --save | --source)
      [ $# -ge 2 ] || { echo "build-image: $1 needs a value" >&2; exit 2; }
      declare "${1#--}=$2"; shift 2; continue ;;
    --build=* | --debs=* | --mirror=* | --save=* | --source=*) opt=${1%%=*}; declare "${opt#--}=${1#*=}" ;;
    --nginx) nginx=1 ;;
    --refresh-base) refresh=1 ;;
    --print-tag) print_tag=1 ;;
    -h | --help) usage; exit 0 ;;
    --version)
      sed -n 's/^project(kestrel VERSION \([0-9.]*\).*/build-image (kestrel) \1/p' "$repo/CMakeLists.txt"
      exit 0 ;;
    *) echo "build-image: unknown argument '$1' (see --help)" >&2; exit 2 ;;
  esac
  shift
done

say() { echo "build-image: $*" >&2; }
die() { say "$*"; exit 1; }
for tool in podman mmdebstrap dpkg-deb sha256sum; do
  command -v $tool >/dev/null || die "needs $tool (scripts/install-deps.sh test installs it)"
done

version=$(sed -n 's/^project(kestrel VERSION \([0-9.]*\).*/\1/p' "$repo/CMakeLists.txt")
# The commit's time and name; a tree with changes not committed says so in its revision.
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$repo" log -1 --format=%ct 2>/dev/null || echo 0)}
revision=$(git -C "$repo" rev-parse HEAD 2>/dev/null || echo unknown)
if [ "$revision" != unknown ] && [ -n "$(git -C "$repo" status --porcelain 2>/dev/null)" ]; then
  revision=$revision-modified
fi
if [ -z "$source" ]; then
  source=$(git -C "$repo" config --get remote.origin.url 2>/dev/null || true)
  source=${source:-https://kestrel.example.org/kestrel.git}
fi
created=$(date -u -d "@$SOURCE_DATE_EPOCH" +%Y-%m-%dT%H:%M:%SZ)

work=$(mktemp -d "${TMPDIR:-/var/tmp}/kestrel-image.XXXXXX")
cleanup() { rm -rf "$work"; }
trap cleanup EXIT

# ---- the project's packages ---------------------------------------------------------------
mkdir -p "$work/debs"
if [ -n "$debs" ]; then
  shopt -s nullglob
  for p in kestrel-engine kestrel-sample-data; do
    found=("$debs"/${p}_*.deb)
    [ ${#found[@]} -eq 1 ] || die "$debs must hold exactly one ${p}_*.deb (found ${#found[@]})"
    cp "${found[0]}" "$work/debs/"
  done
  shopt -u nullglob
else
  [ -f "$build/CPackConfig.cmake" ] || die "$build is not a configured build folder (--build, --debs)"
  say "building kserve and the sample data set in $build (nothing when they are up to date)"
  cmake --build "$build" --target kserve kestrel kestrelsrv kbmp2gif sample_data package_docs \
    >"$work/build.log" 2>&1 || { tail -n 30 "$work/build.log" >&2; die "the build failed"; }
  say "making the packages kestrel-engine and kestrel-sample-data (cpack)"
  KESTREL_CPACK_COMPONENTS="engine;sample" cpack -G DEB --config "$build/CPackConfig.cmake" \
    -B "$work/cpack" >"$work/cpack.log" 2>&1 || { tail -n 30 "$work/cpack.log" >&2; die "cpack failed"; }
  cp "$work"/cpack/*.deb "$work/debs/"
fi

# The Debian packages that PACKAGE.deb... depend on, one a line: names without versions, the
# first of alternatives, the project's own left out.
dependencies() {
  local deb
  for deb in "$@"; do dpkg-deb -f "$deb" Depends; done | tr ',' '\n' |
    sed 's/|.*//; s/(.*)//; s/[[:space:]]//g' | grep -v '^kestrel-' | grep . | LC_ALL=C sort -u
}

# ---- base images ----------------------------------------------------------------------------

# make_base ROOT ACCOUNT PACKAGE...: the packages and what they depend on, unpacked into ROOT
# by mmdebstrap (no maintainer script runs), then made into a system they can run in: the
# library links that update-alternatives would make, the account ACCOUNT (uid and gid 10001)
# that the image runs as, a package list for scanners (var/lib/dpkg/status.d), no apt lists or
# caches. Documentation but copyright notices, manual pages and translations are left out.
make_base() {
  local root=$1 account=$2 deb pkg
  shift 2
  mmdebstrap --variant=extract \
    --setup-hook=/usr/share/mmdebstrap/hooks/merged-usr/setup00.sh \
    --include="$(IFS=,; echo "$*")" \
    --dpkgopt='path-exclude=/usr/share/doc/*' --dpkgopt='path-include=/usr/share/doc/*/copyright' \
    --dpkgopt='path-exclude=/usr/share/man/*' --dpkgopt='path-exclude=/usr/share/info/*' \
    --dpkgopt='path-exclude=/usr/share/locale/*' --dpkgopt='path-exclude=/usr/share/lintian/*' \
    --skip=cleanup/apt/cache \
    bookworm "$root" ${mirror:+"$mirror"} >&2
  mkdir -p "$root/var/lib/dpkg/status.d"
  for deb in "$root"/var/cache/apt/archives/*.deb; do
    pkg=$(dpkg-deb -f "$deb" Package)
    dpkg-deb -f "$deb" >"$root/var/lib/dpkg/status.d/$pkg"
    # update-alternatives --install LINK NAME PATH PRIORITY, as the package's postinst says.
    dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./postinst 2>/dev/null |
      sed -e ':a' -e '/\\$/{N;s/\\\n//;ba' -e '}' |
      awk '$1 == "update-alternatives" && $2 == "--install" { print $3, $5, $6 }'
  done | sort -k1,1 -k3,3nr | sort -u -k1,1 | while read -r link target _; do
    if [ -e "$root$target" ] && [ ! -e "$root$link" ]; then ln -s "$target" "$root$link"; fi
  done
  rm -rf "$root"/var/cache/apt "$root"/var/lib/apt "$root"/var/log/* "$root"/etc/apt
  # The files and folders a container runtime mounts over, there already: a container with a
  # read-only root changes nothing in it.
  : >"$root/etc/hostname"
  : >"$root/etc/hosts"
  : >"$root/etc/resolv.conf"
  mkdir -p "$root/run" "$root/var/tmp"
  chmod 1777 "$root/var/tmp"
  printf '%s\n' "root:x:0:0:root:/root:/usr/sbin/nologin" \
    "$account:x:10001:10001:$account:/nonexistent:/usr/sbin/nologin" \
    "nobody:x:65534:65534:nobody:/nonexistent:/usr/sbin/nologin" >"$root/etc/passwd"
  printf '%s\n' "root:x:0:" "$account:x:10001:" "nogroup:x:65534:" >"$root/etc/group"
  printf '%s\n' "passwd: files" "group: files" "hosts: files dns" >"$root/etc/nsswitch.conf"
  if [ -e "$root/usr/bin/busybox" ]; then ln -sf busybox "$root/usr/bin/sh"; fi
  mkdir -p "$root/tmp"
  chmod 1777 "$root/tmp"
}

# base_tag NAME PACKAGE...: the tag of the base image of those packages: a digest of the
# recipe (the packages, the suite, the mirror and make_base itself).
base_tag() {
  local name=$1
  shift
  echo "localhost/kestrel/$name-base:$( (echo "bookworm $mirror $*"; declare -f make_base) |
                                        sha256sum | cut -c1-16)"
}

# base_image NAME PACKAGE...: the tag of the base image of those packages, made unless podman
# has it.
base_image() {
  local name=$1 tag root
  tag=$(base_tag "$@")
  shift
  if [ $refresh -eq 0 ] && podman image exists "$tag"; then
    say "base image $tag is there"
  else
    say "making the base image $tag from ${mirror:-deb.debian.org}: $*"
    root=$work/$name-rootfs
    make_base "$root" "$name" "$@"
    mkdir -p "$work/$name-base"
    tar -C "$root" --sort=name --numeric-owner --mtime="@$SOURCE_DATE_EPOCH" --clamp-mtime \
      --pax-option=exthdr.name=%d/PaxHeaders/%f,delete=atime,delete=ctime \
      -cf "$work/$name-base/rootfs.tar" .
    printf 'FROM scratch\nADD rootfs.tar /\n' >"$work/$name-base/Containerfile"
    podman build --quiet --layers=false --format docker --timestamp "$SOURCE_DATE_EPOCH" \
      --tag "$tag" "$work/$name-base" >/dev/null
    rm -rf "$root" "$work/$name-base"
  fi
  echo "$tag"
}

# tree_digest DIR: a digest of a folder's names, kinds, modes, links and contents (not times).
tree_digest() {
  (cd "$1" && find . -printf '%p %y %m %l\n' | LC_ALL=C sort &&
     find . -type f -print0 | LC_ALL=C sort -z | xargs -0 -r sha256sum) | sha256sum | cut -c1-12
}

# image_digest BASE CONTEXT: the digest in an image's tag: of its base's tag, the labels and
# the build context.
image_digest() {
  (echo "$1 $version $revision $created $source"; tree_digest "$2") | sha256sum | cut -c1-12
}

# build_image NAME BASE CONTEXT: builds CONTEXT/Containerfile on BASE as
# localhost/kestrel/NAME:VERSION-DIGEST and :VERSION; prints the first tag.
build_image() {
  local name=$1 base=$2 context=$3 tag
  tag=localhost/kestrel/$name:$version-$(image_digest "$base" "$context")
  if podman image exists "$tag"; then
    say "$tag is there"
  else
    # No layer cache: podman's does not tell builds apart by the labels' values.
    podman build --quiet --layers=false --format docker --timestamp "$SOURCE_DATE_EPOCH" \
      --build-arg BASE="$base" --build-arg VERSION="$version" --build-arg REVISION="$revision" \
      --build-arg CREATED="$created" --build-arg SOURCE="$source" \
      --tag "$tag" "$context" >/dev/null
  fi
  podman tag "$tag" "localhost/kestrel/$name:$version"
  echo "$tag"
}

# ---- kserve's image -------------------------------------------------------------------------
context=$work/kserve
# /data: where the data set is mounted; /etc/mtab: podman makes this link when it is missing,
# which would be the one change a container makes to its file system.
mkdir -p "$context/root/usr/local/bin" "$context/root/var/lib/dpkg/status.d" "$context/root/data" \
  "$context/root/etc"
ln -s ../proc/self/mounts "$context/root/etc/mtab"
for deb in "$work"/debs/*.deb; do
  dpkg-deb -x "$deb" "$context/root"
  dpkg-deb -f "$deb" >"$context/root/var/lib/dpkg/status.d/$(dpkg-deb -f "$deb" Package)"
done
# The development files of kestrel-engine serve no purpose in the service's image.
rm -rf "$context/root/usr/include" "$context/root/usr/lib/cmake" "$context/root/usr/lib/pkgconfig"
install -m 755 "$repo/deploy/container/kserve-entrypoint" "$repo/deploy/container/kserve-healthcheck" \
  "$context/root/usr/local/bin/"
cp "$repo/deploy/container/Containerfile" "$context/"
mapfile -t packages < <(dependencies "$work"/debs/*.deb)
# busybox: the shell and the HTTP client of the two scripts; base-files: the system's name
# and version (/etc/os-release) for scanners.
packages+=(busybox base-files)

if [ $print_tag -eq 1 ]; then
  echo "localhost/kestrel/kserve:$version-$(image_digest "$(base_tag kserve "${packages[@]}")" "$context")"
  exit 0
fi

base=$(base_image kserve "${packages[@]}")
tag=$(build_image kserve "$base" "$context")
# Every library kserve needs is in the image: the image's own dynamic loader lists them (as
# root, where podman can mount the image).
if [ "$(id -u)" -eq 0 ]; then
  mnt=$(podman image mount "$tag")
  libs=$(chroot "$mnt" /usr/lib64/ld-linux-x86-64.so.2 --list /usr/bin/kserve 2>&1) || true
  podman image unmount "$tag" >/dev/null
  if grep -qi 'not found\|error' <<<"$libs"; then
    die "kserve cannot run in $tag: $(grep -i 'not found\|error' <<<"$libs" | tr -s ' \t\n' ' ')"
  fi
fi

size=$(podman image inspect --format '{{.Size}}' "$tag")
say "built $tag (also localhost/kestrel/kserve:$version): $((size / 1000000)) MB"
if [ -n "$save" ]; then
  podman save --quiet --format docker-archive -o "$save" "$tag"
  say "saved into $save ($(($(stat -c %s "$save") / 1000000)) MB)"
fi

# ---- nginx for the compose file -------------------------------------------------------------
if [ $nginx -eq 1 ]; then
  nbase=$(base_image nginx base-files nginx)
  ncontext=$work/nginx
  mkdir -p "$ncontext/cache"
  cp "$repo/deploy/compose/nginx.Containerfile" "$ncontext/Containerfile"
  ntag=$(build_image nginx "$nbase" "$ncontext")
  say "built $ntag (also localhost/kestrel/nginx:$version)"
fi
echo "$tag"
