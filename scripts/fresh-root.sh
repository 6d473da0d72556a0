#!/usr/bin/env bash
# Proves the README's two commands on a brand-new machine: makes a minimal root of Debian 12
# or 13 with debootstrap from this machine's own Debian mirror, clones the current commit
# into it, and there, in a login shell of an ordinary user with sudo (the release's own umask
# and environment), runs scripts/run-demo.sh under plain xvfb-run until the viewer's window
# shows the demo, then scripts/test.sh to the end (with --release, its Release build alone),
# then builds the Debian package, installs it with apt and runs the installed programs on the
# demo, and the installed Blender add-on opens, edits and saves it. The root trusts this machine's certificate
# authorities (a proxy may stand between it and the npm registry). The bare root is cached
# in CACHE (/var/cache/quadview-roots) and made again after 30 days. Needs root, or sudo.
# Prints the time of each phase; exits 1 when any of them fails.
# Usage: scripts/fresh-root.sh 12|13 [--release] [--cache CACHE] [--keep]
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)

usage() { echo "usage: scripts/fresh-root.sh 12|13 [--release] [--cache DIR] [--keep]" >&2; exit 2; }
[ $# -ge 1 ] || usage
case "$1" in
  12 | bookworm) release=12 codename=bookworm ;;
  13 | trixie) release=13 codename=trixie ;;
  *) usage ;;
esac
shift
test_args=()
cache=/var/cache/quadview-roots
keep=0
while [ $# -gt 0 ]; do
  case "$1" in
    --release) test_args=(--release); shift ;;
    --cache) [ $# -ge 2 ] || usage; cache=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    *) usage ;;
  esac
done
if [ "$(id -u)" -ne 0 ]; then
  exec sudo "$0" "$release" "${test_args[@]}" --cache "$cache" $([ "$keep" -eq 1 ] && echo --keep)
fi

say() { echo "fresh-root $release: $*"; }
started=$(date +%s)
phase_start=$started
phase() {  # ends the phase before with its time, then names the next one
  local now
  now=$(date +%s)
  [ -z "${phase_name:-}" ] || say "$phase_name took $((now - phase_start)) s"
  phase_name=$1 phase_start=$now
  [ -z "$1" ] || say "$1"
}

# What this machine needs to make and watch the root.
host_packages=(debootstrap x11-utils git)
missing=()
for package in "${host_packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  say "installing ${missing[*]} on this machine"
  { apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q \
      --no-install-recommends "${missing[@]}"; } >/dev/null
fi

# This machine's Debian mirror: the first URI of its Debian sources.
mirror=$(grep -hoE '^(URIs:|deb) +https?://[^ ]+/debian/?( |$)' /etc/apt/sources.list.d/*.sources \
  /etc/apt/sources.list 2>/dev/null | head -n 1 | awk '{print $2}' || true)
mirror=${mirror:-http://deb.debian.org/debian}

# The bare root: what a new user's minimal Debian holds, with sudo, git and the certificate
# store they cloned with.
bare="$cache/$codename"
if [ -f "$bare/.made" ] && [ -z "$(find "$bare/.made" -mtime +30)" ]; then
  phase "using the cached bare root $bare"
else
  phase "making a bare Debian $release root from $mirror (debootstrap)"
  rm -rf "$bare" "$bare.partial"
  mkdir -p "$cache"
  debootstrap --variant=minbase --include=sudo,git,ca-certificates "$codename" "$bare.partial" \
    "$mirror" >"$cache/$codename.log" 2>&1 || { tail -n 20 "$cache/$codename.log" >&2; exit 1; }
  touch "$bare.partial/.made"
  mv "$bare.partial" "$bare"
fi

phase "copying the root and cloning $(git -C "$repo" rev-parse --short HEAD) into it"
work=$(mktemp -d /var/tmp/quadview-fresh-root-XXXXXX)
root="$work/root"
# The processes that run inside the root.
root_processes() {
  local proc
  for proc in /proc/[0-9]*; do
    [ "$(readlink "$proc/root" 2>/dev/null)" = "$root" ] && echo "${proc#/proc/}"
  done
  return 0
}
cleanup() {
  set +e
  # Whatever still runs inside the root (a viewer, a test's server) holds its mounts.
  kill -9 $(root_processes) 2>/dev/null
  sleep 1
  for mount in $(grep -o " $root/[^ ]*" /proc/mounts | sort -r); do umount -l "$mount"; done
  if [ "$keep" -eq 1 ]; then say "the root is kept in $root"; else rm -rf "$work"; fi
}
trap cleanup EXIT
cp -a "$bare" "$root"
cp /etc/resolv.conf "$root/etc/resolv.conf"
printf '127.0.0.1 localhost %s\n' "$(hostname)" >"$root/etc/hosts"
# This machine's own certificate authorities, trusted by the root's store.
if compgen -G "/usr/local/share/ca-certificates/*.crt" >/dev/null; then
  cp /usr/local/share/ca-certificates/*.crt "$root/usr/local/share/ca-certificates/"
fi
chroot "$root" update-ca-certificates >/dev/null 2>&1
chroot "$root" useradd -m -s /bin/bash user
# A desktop's login has a UTF-8 locale (an installer writes it here, and su's PAM reads it):
# without one, man and groff write ASCII and nothing tells text width from byte count.
echo "LANG=C.UTF-8" >"$root/etc/default/locale"
echo "user ALL=(ALL:ALL) NOPASSWD: ALL" >"$root/etc/sudoers.d/user"
chmod 0440 "$root/etc/sudoers.d/user"
mount -t proc proc "$root/proc"
mount -t sysfs sysfs "$root/sys"
mount --rbind /dev "$root/dev"
mount --make-rslave "$root/dev"
git clone -q "$repo" "$root/home/user/quadview"
git -C "$root/home/user/quadview" checkout -q "$(git -C "$repo" rev-parse HEAD)"
chroot "$root" chown -R user:user /home/user/quadview

# A command in a login shell of the user, as they would type it after logging in: su -
# gives the release's own umask (002 on Debian 13, 022 on 12) and a login's environment.
as_user() {  # COMMAND
  chroot "$root" su - user -c "$1"
}

# The user's graphical session stands in as xvfb-run, which starts a server that resets when
# its last client leaves; the root has it as a desktop user's machine has an X server.
{ chroot "$root" apt-get update -q && chroot "$root" env DEBIAN_FRONTEND=noninteractive \
  apt-get install -y -q --no-install-recommends xvfb xauth; } >"$work/xvfb-install.log" 2>&1 ||
  { tail -n 20 "$work/xvfb-install.log" >&2; exit 1; }

# Runs a command as the user under plain xvfb-run until a viewer window shows a loaded scene,
# then stops it; fails with the end of its output when the command ends first, or has shown
# no scene after 30 minutes (a viewer that met an error waits in its error box). Nothing of
# this script connects to that server while the viewer starts: its title is read only once a
# viewer of the root has run for 5 s, through the display and cookie in its environment.
watch_viewer() {  # LOG COMMAND
  local log=$1 pid shown=0 deadline=$((SECONDS + 1800)) viewer environment
  setsid chroot "$root" su - user -c "xvfb-run -a -s '-screen 0 1024x768x24' bash -c $(printf %q "$2")" \
    >"$log" 2>&1 &
  pid=$!
  while kill -0 "$pid" 2>/dev/null && [ "$SECONDS" -lt "$deadline" ]; do
    sleep 2
    viewer=$(for p in $(root_processes); do
      [ "$(cat "/proc/$p/comm" 2>/dev/null)" = quadview ] && echo "$p"
    done | head -n 1)
    [ -n "$viewer" ] && [ "$(ps -o etimes= -p "$viewer" | tr -d ' ')" -ge 5 ] || continue
    environment=$(tr '\0' '\n' <"/proc/$viewer/environ")
    # The title reads "OpenGL - N FPS | ..." once the scene is loaded and frames are drawn.
    if DISPLAY=$(sed -n 's/^DISPLAY=//p' <<<"$environment") \
      XAUTHORITY=$root$(sed -n 's/^XAUTHORITY=//p' <<<"$environment") \
      xwininfo -root -tree 2>/dev/null | grep -qE '"OpenGL - [0-9]+ FPS'; then
      shown=1
      break
    fi
  done
  kill $(root_processes) 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  if [ "$shown" -ne 1 ]; then
    tail -n 30 "$log" >&2
    return 1
  fi
}

say "the user's login shell: umask $(as_user umask), PATH $(as_user 'echo $PATH')"
phase "README's first command: scripts/run-demo.sh, until the viewer shows the demo"
demo_log="$work/run-demo.log"
watch_viewer "$demo_log" 'cd ~/quadview && scripts/run-demo.sh' ||
  { say "FAILED: the viewer's window never showed the demo"; exit 1; }
say "the viewer shows the demo ($(grep -c '' "$demo_log") lines of output)"

phase "README's second command: scripts/test.sh ${test_args[*]}"
status=0
as_user "cd ~/quadview && scripts/test.sh ${test_args[*]}" >"$work/test.log" 2>&1 || status=$?
grep -E 'tests passed|tests failed|The following tests|\(Failed\)|\(Skipped\)|Not Run' \
  "$work/test.log" | sed "s/^/fresh-root $release:   /"
if [ "$status" -ne 0 ]; then
  phase ""
  tail -n 60 "$work/test.log" >&2
  say "FAILED: scripts/test.sh exited with status $status"
  exit 1
fi

# The package as the README installs it, then the installed programs: each prints its
# version, quadscene writes, checks and draws (headless) the demo, and the viewer shows it.
phase "the package: scripts/package.sh, sudo apt install, the installed programs"
package_log="$work/package.log"
as_user 'cd ~/quadview && scripts/package.sh && sudo apt-get install -y -q \
  ./build-package/quadview_*.deb && cd /tmp && /usr/bin/quadview --version &&
  /usr/bin/quadscene --version && /usr/bin/quadscene demo installed-demo --force &&
  /usr/bin/quadscene check installed-demo/nyc.map &&
  /usr/bin/quadscene render installed-demo/nyc.map -o installed-demo.png --quiet &&
  test -s installed-demo.png' >"$package_log" 2>&1 || {
  phase ""
  tail -n 30 "$package_log" >&2
  say "FAILED: the package did not install or run"
  exit 1
}
watch_viewer "$work/installed-viewer.log" 'cd /tmp && exec /usr/bin/quadview installed-demo/nyc.map' ||
  { say "FAILED: the installed viewer never showed the demo"; exit 1; }
say "the package installs; $(grep -h -m1 '^quadview ' "$package_log") shows the demo"

# The installed Blender add-on as a modder uses it: enabled from where the package put it,
# the demo opened, a wall raised, the scene saved, and the installed programs on the result.
phase "the installed Blender add-on: import, a wall moved, export, the viewer on the result"
blender_log="$work/blender.log"
as_user 'cd /tmp && blender -b --factory-startup --python-exit-code 1 --python-expr "
import addon_utils, bmesh, bpy
bpy.ops.wm.read_factory_settings(use_empty=True)
name = next(n for n in (\"io_scene_quadview\", \"bl_ext.system.io_scene_quadview\")
            if addon_utils.enable(n, default_set=True, handle_error=None))
bpy.ops.import_scene.quadview(filepath=\"/tmp/installed-demo/nyc.map\")
wall = bpy.context.view_layer.objects.active
mesh = bmesh.new()
mesh.from_mesh(wall.data)
record = mesh.faces.layers.int[\"quadview_record\"]
for vert in {v for f in mesh.faces if f[record] == 3 for v in f.verts}:
    vert.co.z += 1.0
mesh.to_mesh(wall.data)
bpy.ops.export_scene.quadview(filepath=\"/tmp/edited/nyc.map\")
print(\"blender\", bpy.app.version_string, \"with\", name)
" && /usr/bin/quadscene check edited/nyc.map' >"$blender_log" 2>&1 || {
  tail -n 30 "$blender_log" >&2
  say "FAILED: the installed Blender add-on did not open, edit and save the demo"
  exit 1
}
watch_viewer "$work/edited-viewer.log" 'cd /tmp && exec /usr/bin/quadview edited/nyc.map' ||
  { say "FAILED: the installed viewer never showed the scene saved from Blender"; exit 1; }
say "$(grep -h -m1 '^blender ' "$blender_log") saved the edited demo, and the viewer shows it"
phase ""
say "both commands and the package work on a fresh Debian $release ($(($(date +%s) - started)) s in all)"
