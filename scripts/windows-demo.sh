#!/usr/bin/env bash
# The Windows service end to end under Wine, as an operator runs it: installs ostarapcservice
# with -install, starts it with "sc start", asks ostaractl.exe for the status over the named
# pipe, stops it with "sc stop", uninstalls it and says where the logs are. The service
# supervises the native sample agent against a simulated queue manager. With --check it runs
# unattended and exits non-zero when any step fails; every wait is bounded.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD

usage() {
  cat <<'EOF'
Usage: scripts/windows-demo.sh [--check] [--no-build] [--build-dir DIR]

Builds the Windows cross build (preset windows), then under Wine installs the service, starts
it through the service control manager, shows its status, waits for Enter (when run in a
terminal), stops and uninstalls it.

  --check          run unattended: exit 0 when every step worked, else 1
  --no-build       use an existing build
  --build-dir DIR  the build to use (default: build/windows)
  -h, --help       show this help and exit
EOF
}

check=no
build=yes
build_dir=build/windows
while [ $# -gt 0 ]; do
  case "$1" in
    --check) check=yes ;;
    --no-build) build=no ;;
    --build-dir)
      [ $# -ge 2 ] || { echo "windows-demo.sh: --build-dir needs a directory" >&2; exit 2; }
      build_dir=$2; shift ;;
    -h|--help) usage; exit 0 ;;
    *) echo "windows-demo.sh: unknown argument: $1" >&2; usage >&2; exit 2 ;;
  esac
  shift
done

if [ "$build" = yes ]; then
  cmake --preset windows >/dev/null
  cmake --build --preset windows -j"$(nproc)"
fi

build_dir=$(cd "$build_dir" && pwd)
wine_run=$build_dir/wine-run.sh
bin=$build_dir/stage/bin64
tools=$build_dir/tools
for needed in "$wine_run" "$bin/ostarapcservice.exe" "$bin/ostaractl.exe" "$bin/vexil.dll" \
              "$tools/vexil-qmgr.exe" "$tools/fakejdk/bin/java.exe"; do
  [ -e "$needed" ] || { echo "windows-demo.sh: $needed is missing: build first" >&2; exit 1; }
done

# A service starts in C:\windows with the manager's environment: every path it is given is a
# drive path (Wine's Z: is the Linux root), and its queue-manager library looks for the
# simulated daemons in their default directory, so the daemon is started without VEXIL_SIM_DIR.
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
unset VEXIL_SIM_DIR
show() { case "$1" in "$repo"/*) echo "${1#"$repo"/}" ;; *) echo "$1" ;; esac; }
# Each Wine command has a minute at most, so that a hung one fails the demo instead of holding it.
wine_() { timeout 60 "$wine_run" "$@" </dev/null 2>&1 | tr -d '\r'; }

if [ "$check" = yes ]; then
  demo=$build_dir/windows-demo-check
  service=ostara-demo-check-$$
  app=DEMOCHECK$$
  qmgr=DEMOQM$$
else
  demo=$build_dir/windows-demo
  service=ostara-demo
  app=DEMO
  qmgr=DEMOQM
fi
rm -rf "$demo"
mkdir -p "$demo/work"
cat >"$demo/agent.properties" <<EOF
agentQMgr=$qmgr
agentQMgrRetryInterval=1
EOF

fail() {
  echo "windows demo: $*" >&2
  for log in "$demo"/logs/service*.log "$demo/logs/stderr.log"; do
    [ -s "$log" ] && { echo "--- $(show "$log")" >&2; cat "$log" >&2; }
  done
  exit 1
}

# The state number "sc query" shows (1 STOPPED, 2 START_PENDING, 3 STOP_PENDING, 4 RUNNING),
# empty when the service does not exist.
state() { wine_ sc query "$service" | sed -n 's/^ *STATE *: *\([0-9]*\).*/\1/p'; }
await_state() {
  for _ in $(seq 150); do
    [ "$(state)" = "$1" ] && return 0
    sleep 0.2
  done
  return 1
}

"$wine_run" --start
qm_pid=
installed=no
cleanup() {
  if [ "$installed" = yes ]; then
    [ "$(state)" = 1 ] || { wine_ sc stop "$service" >/dev/null || true; await_state 1 || true; }
    wine_ "$bin/ostarapcservice.exe" -uninstall "-serviceName=$service" >/dev/null || true
  fi
  if [ -n "$qm_pid" ]; then
    kill "$qm_pid" 2>/dev/null || true
    wait "$qm_pid" 2>/dev/null || true
  fi
}
trap cleanup EXIT

"$wine_run" "$tools/vexil-qmgr.exe" "$qmgr" </dev/null >"$demo/vexil-qmgr.log" 2>&1 &
qm_pid=$!
for _ in $(seq 100); do
  grep -q '^ready' "$demo/vexil-qmgr.log" 2>/dev/null && break
  kill -0 "$qm_pid" 2>/dev/null || break
  sleep 0.1
done
grep -q '^ready' "$demo/vexil-qmgr.log" || fail "the simulated queue manager did not start: $(cat "$demo/vexil-qmgr.log")"

install=("$bin/ostarapcservice.exe" -install "-serviceName=$service" "-displayName=Ostara demo ($app)"
         "-description=Supervises the sample agent against the simulated queue manager $qmgr"
         "-directory=$(winpath "$demo")" -logLevel=Info
         "-pcOptions=-directory=$(winpath "$demo/work")" "-appId=$app"
         "-properties=$(winpath "$demo/agent.properties")"
         "-Dcom.quillon.velbrix.product.root=$(winpath "$build_dir/stage/prod")"
         "$(winpath "$tools/fakejdk/bin/java")")
echo "$ ostarapcservice.exe -install -serviceName=$service ..."
wine_ "${install[@]}" || fail "the installer failed"
installed=yes
echo "$ sc start $service"
wine_ sc start "$service" >/dev/null || fail "sc start $service failed"
await_state 4 || fail "the service did not reach RUNNING (state $(state))"

status_text=
for _ in $(seq 150); do
  if status_text=$(wine_ "$bin/ostaractl.exe" "$app" status) &&
     grep -q '^processControllerStatus=STARTED' <<<"$status_text" &&
     [ -s "$demo/work/sample-agent.log" ]; then
    break
  fi
  status_text=
  sleep 0.2
done
[ -n "$status_text" ] || fail "the agent did not start"
echo "$ ostaractl.exe $app status"
echo "$status_text"

if [ "$check" = no ] && [ -t 0 ]; then
  echo
  echo "The service $service is running under Wine's service manager. In another terminal:"
  echo "  $(show "$wine_run") sc query $service"
  echo "  $(show "$wine_run") $(show "$bin/ostaractl.exe") $app status"
  read -r -p "Press Enter to stop and uninstall it. " _ || true
fi

echo "$ sc stop $service"
wine_ sc stop "$service" >/dev/null || fail "sc stop $service failed"
await_state 1 || fail "the service did not reach STOPPED (state $(state))"
exit_codes=$(wine_ sc query "$service" | grep -E 'WIN32_EXIT_CODE|SERVICE_EXIT_CODE' || true)
grep -q 'WIN32_EXIT_CODE *: *0 ' <<<"$exit_codes" || fail "the service stopped with an error: $exit_codes"
grep -q 'sample-agent: run 1 exits with 0' "$demo/logs/stdout.log" ||
  fail "the agent was not stopped through its pipe"
echo "$ ostarapcservice.exe -uninstall -serviceName=$service"
wine_ "$bin/ostarapcservice.exe" -uninstall "-serviceName=$service" || fail "the uninstaller failed"
installed=no
[ -z "$(state)" ] || fail "the service is still registered"

service_log=$(ls "$demo"/logs/service*.log)
grep -q "Service $service exiting" "$service_log" || fail "the service log does not show the end"
echo
echo "Logs:"
echo "  service log            $(show "$service_log")"
echo "  agent output           $(show "$demo/logs/stdout.log") and stderr.log"
echo "  controller event log   $(show "$demo/work/logs/pcevent0.log")"
echo "  event log              under Wine only in $(show "$build_dir/wine-prefix.services.log")"
echo "                         (err:eventlog lines; on Windows the Application log)"
if [ "$check" = yes ]; then
  echo "windows demo check passed: installed, started, answered, stopped cleanly, uninstalled"
fi
