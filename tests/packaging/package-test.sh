#!/usr/bin/env bash
# The Debian packages as an operator meets them: build them from the build tree, install them
# with apt-get into this machine, install a service with the installed ostarapcservice, run the
# unit's ExecStart= line as systemd would, ask /usr/bin/ostaractl for its status, stop it,
# remove the unit and the packages, and check that nothing of them is left.
# Skips (77) unless root with dpkg and apt-get, and when ostara is installed already: it never
# touches a package it did not install. Whatever happens, the exit trap restores the machine.
# Usage: package-test.sh BUILD_DIR
set -euo pipefail
SKIP=77
skip() { echo "SKIPPED: $*"; exit "$SKIP"; }
fail() { echo "FAILED: $*" >&2; exit 1; }
[ $# -eq 1 ] || { echo "usage: $0 BUILD_DIR" >&2; exit 2; }
build_dir=$(cd "$1" && pwd)

[ "$(id -u)" -eq 0 ] || skip "needs root: it installs the packages into this machine"
for tool in dpkg dpkg-deb dpkg-query apt-get cpack flock; do
  command -v "$tool" >/dev/null || skip "$tool is missing"
done

# One run at a time on this machine (other build trees may run this test too). The lock is
# on a directory that exists anyway, so the test leaves no lock file behind; the processes it
# starts do not inherit it.
exec 9</var/lib/dpkg
flock -w 120 9 || fail "another package test held its lock for 2 minutes"
for p in ostara ostara-demo; do
  if dpkg-query -W "$p" >/dev/null 2>&1; then
    skip "package $p is known to dpkg on this machine; the test leaves it alone"
  fi
done
[ ! -e /opt/ostara ] || skip "/opt/ostara exists and belongs to no package of this test"

work=$(mktemp -d /tmp/ostara-package-test.XXXXXX)
chmod 0755 "$work"   # apt reads the packages as its own unprivileged user
service=ostara-pkgtest-$$
app=PKGTEST$$
qmgr=PKGQM$$
svc_pid=
qm_pid=
installed=no

stop_process() {   # pid, seconds: SIGTERM, then SIGKILL after the grace period
  local pid=$1 i
  kill -0 "$pid" 2>/dev/null || return 0
  kill -TERM "$pid" 2>/dev/null || true
  for ((i = 0; i < $2 * 10; i++)); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}
cleanup() {
  local rc=$?
  [ -z "$svc_pid" ] || stop_process "$svc_pid" 30
  [ -z "$qm_pid" ] || stop_process "$qm_pid" 5
  if [ "$installed" = yes ]; then
    dpkg --purge ostara-demo ostara >/dev/null 2>&1 || echo "cleanup: dpkg --purge failed" >&2
    # The product tree did not exist before; what a failed run left in it goes too.
    rm -rf /opt/ostara
  fi
  rm -rf "$work"
  exit "$rc"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# Splits an ExecStart= value into arguments as systemd does: blanks separate, double and
# single quotes group, backslash escapes, "%%" and "$$" stand for "%" and "$". A specifier,
# variable, prefix or escape this test does not decode fails it rather than being guessed.
split_exec_start() {
  local line=$1 word='' in_word=0 quote='' i c n
  exec_argv=()
  case "$line" in [-@:+!]*) fail "unexpected prefix in ExecStart=$line" ;; esac
  for ((i = 0; i < ${#line}; i++)); do
    c=${line:i:1}
    case "$c" in
      %|\$)
        [ "${line:i+1:1}" = "$c" ] || fail "ExecStart= has a specifier or variable: $line"
        word+=$c; in_word=1; i=$((i + 1)) ;;
      \\)
        n=${line:i+1:1}; i=$((i + 1)); in_word=1
        case "$n" in
          n) word+=$'\n' ;; t) word+=$'\t' ;; s) word+=' ' ;;
          \\|\"|\'|' ') word+=$n ;;
          *) fail "ExecStart= has an escape this test does not decode: \\$n" ;;
        esac ;;
      *)
        if [ -n "$quote" ]; then
          [ "$c" = "$quote" ] && quote='' || word+=$c
        elif [ "$c" = '"' ] || [ "$c" = "'" ]; then
          quote=$c; in_word=1
        elif [ "$c" = ' ' ] || [ "$c" = $'\t' ]; then
          [ "$in_word" = 0 ] || exec_argv+=("$word")
          word=''; in_word=0
        else
          word+=$c; in_word=1
        fi ;;
    esac
  done
  [ -z "$quote" ] || fail "unbalanced quote in ExecStart=$line"
  [ "$in_word" = 0 ] || exec_argv+=("$word")
}

# Package paths ("/opt/ostara/bin64/ostaractl", ...), from the package file or from dpkg.
deb_paths() { dpkg-deb --fsys-tarfile "$1" | tar -t | sed -e 's|^\./|/|' -e 's|/$||' -e '/^$/d'; }

echo "== build the packages"
start=$SECONDS
timeout 300 cpack -G DEB --config "$build_dir/CPackConfig.cmake" -B "$work/pkg" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack failed"; }
main=$(echo "$work"/pkg/ostara_*.deb)
demo=$(echo "$work"/pkg/ostara-demo_*.deb)
[ -f "$main" ] && [ -f "$demo" ] || { ls -l "$work/pkg"; fail "cpack made no ostara_*.deb and ostara-demo_*.deb"; }
echo "built in $((SECONDS - start)) s: $(basename "$main") $(basename "$demo")"
dpkg-deb -f "$main" Depends Suggests

# The product package holds none of the test tools and has no maintainer scripts; its
# dependencies come from the libraries its programs link, and a JDK is only suggested.
deb_paths "$main" >"$work/main.paths"
deb_paths "$demo" >"$work/demo.paths"
! grep -E 'vexil|sample-agent|fakejdk' "$work/main.paths" || fail "test tools in the product package"
grep -qx /usr/share/man/man8/ostaractl.8.gz "$work/main.paths" || fail "no ostaractl(8) in the package"
depends=$(dpkg-deb -f "$main" Depends)
grep -q 'libc6 (>=' <<<"$depends" || fail "Depends has no computed libc6 dependency"
! grep -qi 'jdk\|java' <<<"$depends" || fail "a JDK is a dependency, not a suggestion"
grep -q jdk <<<"$(dpkg-deb -f "$main" Suggests)" || fail "a JDK is not suggested"
for deb in "$main" "$demo"; do
  scripts=$(dpkg-deb --ctrl-tarfile "$deb" | tar -t | grep -E 'inst$|rm$' || true)
  [ -z "$scripts" ] || fail "maintainer scripts in $(basename "$deb"): $scripts"
done

if command -v lintian >/dev/null; then
  echo "== lintian"
  timeout 300 lintian --fail-on error --tag-display-limit 0 "$main" "$demo" || fail "lintian reports errors"
else
  echo "lintian is not installed (scripts/install-deps.sh installs it): not run"
fi

# What existed before: shared directories (/usr/bin, ...) stay after the removal.
: >"$work/existed"
while read -r path; do
  if [ -e "$path" ] || [ -L "$path" ]; then
    [ -d "$path" ] && [ ! -L "$path" ] || skip "$path exists already; installing would replace it"
    echo "$path" >>"$work/existed"
  fi
done < <(cat "$work/main.paths" "$work/demo.paths")

echo "== apt-get install"
installed=yes
DEBIAN_FRONTEND=noninteractive apt-get install -y -q -o DPkg::Lock::Timeout=60 --no-install-recommends \
  "$main" "$demo" >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt-get install failed"; }
dpkg -L ostara ostara-demo | grep -vx "/\." | sort -u >"$work/installed"
[ "$(readlink -f /usr/bin/ostaractl)" = /opt/ostara/bin64/ostaractl ] || fail "/usr/bin/ostaractl is not the product's"
for page in ostaractl ostarapcservice; do
  text=$(MANWIDTH=80 MANPAGER=cat man --warnings 8 "$page" 2>"$work/man.err") || fail "man 8 $page failed"
  [ ! -s "$work/man.err" ] || { cat "$work/man.err"; fail "man 8 $page warns"; }
  grep -q 'EXIT STATUS' <<<"$text" || fail "man 8 $page has no EXIT STATUS"
done

echo "== install a service with the installed ostarapcservice"
mkdir -p "$work/units" "$work/cwd" "$work/app" "$work/qm" "$work/ipc"
chmod 0700 "$work/ipc"
logs="$work/service logs"   # a blank, which the unit must quote
printf 'agentQMgr=%s\nagentQMgrRetryInterval=1\n' "$qmgr" >"$work/agent.properties"
java=$(readlink -f "$(command -v java 2>/dev/null || echo /nonexistent)" || true)
if [ -x "$java" ]; then
  agent=("$java" -jar /opt/ostara/java/lib/sample-agent.jar)   # finds libostara in java/lib64
else
  agent=(/opt/ostara/demo/fakejdk/bin/java)
fi
controller=("-appId=$app" "-directory=$work/app" "-properties=$work/agent.properties")
pc_options=("-pcOptions=${controller[0]}" "${controller[@]:1}")
export VELBRIX_SYSTEMD_UNIT_DIR=$work/units
(cd "$work" && /usr/bin/ostarapcservice -install "-serviceName=$service" "-directory=$logs" \
  "${pc_options[@]}" "${agent[@]}") >"$work/install.out" 2>&1 || { cat "$work/install.out"; fail "ostarapcservice -install failed"; }
cat "$work/install.out"
# The installed installer finds its catalogues from its own place.
! grep -q 'ZRKPC[0-9]*_' "$work/install.out" || fail "raw catalogue key from -install"
unit=$work/units/$service.service
[ -L "$work/units/multi-user.target.wants/$service.service" ] || fail "the unit was not enabled"
exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
echo "ExecStart=$exec_start"
split_exec_start "$exec_start"
[ "${exec_argv[0]}" = /opt/ostara/bin64/ostarapcservice ] || fail "ExecStart= runs ${exec_argv[0]}"
grep -qx -- -Dcom.quillon.velbrix.product.root=/opt/ostara/prod < <(printf '%s\n' "${exec_argv[@]}") ||
  fail "ExecStart= has no product-root option"

echo "== run ExecStart= as systemd would"
(cd "$work/qm" && VEXIL_SIM_DIR=$work/qm exec setsid /opt/ostara/demo/vexil-qmgr "$qmgr" \
  </dev/null >"$work/qm/vexil-qmgr.log" 2>&1 9<&-) &
qm_pid=$!
# A clean environment, a session of its own, the journal's place taken by a file; the variables
# keep the IPC socket and the simulated queue manager in this test's directories. systemd would
# start it in /: an empty directory of the test stands in, so a file that misses its place
# shows up there instead of in the machine's root.
(cd "$work/cwd" && exec env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
  "VELBRIX_IPC_DIR=$work/ipc" "VEXIL_SIM_DIR=$work/qm" setsid "${exec_argv[@]}" \
  </dev/null >"$work/journal.txt" 2>&1 9<&-) &
svc_pid=$!
# ostaractl as an operator runs it: no product root given, so it finds its own.
ctl() { env -u ZRK_PROD -u KORR_PROD VELBRIX_IPC_DIR="$work/ipc" timeout 10 /usr/bin/ostaractl "$app" "$@"; }
status_text=
agent_text=
served=no
# The agent answers its own pipe (GETA, relayed by the controller) once it runs: the Java
# agent only then has loaded the runtime library from the package's java/lib64.
for ((i = 0; i < 600; i++)); do   # 60 s
  if status_text=$(ctl status 2>&1) && grep -q '^processControllerStatus=STARTED' <<<"$status_text" &&
     agent_text=$(ctl send GETA 2>&1); then
    served=yes
    break
  fi
  kill -0 "$svc_pid" 2>/dev/null || break
  sleep 0.1
done
echo "$status_text"
echo "GETA: $agent_text"
[ "$served" = yes ] || {
  cat "$work/journal.txt" "$logs"/logs/* "$work/app/logs/pcevent0.log" 2>/dev/null || true
  fail "no started agent answered through /usr/bin/ostaractl $app (status, send GETA)"
}
grep -q ZRK <<<"$status_text" && fail "ostaractl printed a raw catalogue key"

echo "== stop (SIGTERM, as systemctl stop)"
kill -TERM "$svc_pid"
for ((i = 0; i < 600; i++)); do   # 60 s
  kill -0 "$svc_pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$svc_pid" 2>/dev/null && fail "the service did not stop within 60 s of SIGTERM"
rc=0
wait "$svc_pid" || rc=$?
svc_pid=
[ "$rc" -eq 0 ] || { cat "$logs"/logs/service*.log; fail "the service exited with $rc"; }
stop_process "$qm_pid" 5
qm_pid=
ls "$logs"/logs/service*.log "$work/app/logs/pcevent0.log" >/dev/null ||
  fail "the service log or the controller's event log is not where the unit says"
[ -z "$(ls -A "$work/cwd")" ] || fail "files in the service's working directory: $(ls -A "$work/cwd")"

echo "== uninstall the unit"
/usr/bin/ostarapcservice -uninstall "-serviceName=$service" || fail "ostarapcservice -uninstall failed"
[ ! -e "$unit" ] && [ ! -L "$work/units/multi-user.target.wants/$service.service" ] ||
  fail "the unit or its link is still there"

echo "== apt-get purge"
DEBIAN_FRONTEND=noninteractive apt-get purge -y -q -o DPkg::Lock::Timeout=60 ostara-demo ostara \
  >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt-get purge failed"; }
installed=no
left=$( (grep -vxF -f "$work/existed" "$work/installed" || true) | while read -r path; do
  if [ -e "$path" ] || [ -L "$path" ]; then echo "$path"; fi
done)
[ -z "$left" ] || fail "left behind by the packages: $left"
[ ! -e /opt/ostara ] || fail "/opt/ostara is still there"
# The operator's files are not the package's: logs and the working directory stay.
ls "$logs"/logs/service*.log "$work/app/logs/pcevent0.log" >/dev/null || fail "removal took the operator's logs"
echo "package test passed"
