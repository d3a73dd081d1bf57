#!/usr/bin/env bash
# Sets the product up on a fresh Debian 12 machine (as root), builds and stages it, then runs
# its main job in the foreground: the service program supervising the sample agent against a
# simulated queue manager. Ctrl-C stops the service (which stops the agent), then the queue
# manager. With --check it runs the same job unattended, asks for its status with ostaractl,
# stops it and exits 0 when all of that worked.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD

usage() {
  cat <<'EOF'
Usage: scripts/demo.sh [--check] [--no-build] [--build-dir DIR]

Installs the packages the build needs (as root), builds and stages the product (preset
default), then runs the service program in the foreground, supervising the sample agent
against a simulated queue manager. Ctrl-C stops everything.

  --check          run unattended: start, query the status with ostaractl, stop; exit 0
                   when the agent ran and everything stopped cleanly, else 1
  --no-build       use an existing build: skip the packages and the build
  --build-dir DIR  the build to use (default: build/default)
  --native-agent   supervise the native stand-in even when a JDK is there (sanitizer
                   builds: a JVM cannot load an instrumented runtime library by itself)
  -h, --help       show this help and exit
EOF
}

check=no
native_agent=no
build=yes
build_dir=build/default
while [ $# -gt 0 ]; do
  case "$1" in
    --check) check=yes ;;
    --native-agent) native_agent=yes ;;
    --no-build) build=no ;;
    --build-dir)
      [ $# -ge 2 ] || { echo "demo.sh: --build-dir needs a directory" >&2; exit 2; }
      build_dir=$2; shift ;;
    -h|--help) usage; exit 0 ;;
    *) echo "demo.sh: unknown argument: $1" >&2; usage >&2; exit 2 ;;
  esac
  shift
done

if [ "$build" = yes ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "demo.sh: run as root to install the packages, or use --no-build on a built tree" >&2
    exit 2
  fi
  scripts/install-deps.sh
  cmake --preset default >/dev/null
  cmake --build --preset default -j"$(nproc)"
fi

build_dir=$(cd "$build_dir" && pwd)
bin=$build_dir/stage/bin64
prod=$build_dir/stage/prod
tools=$build_dir/tools
for needed in "$bin/ostarapcservice" "$bin/ostaractl" "$bin/libvexil.so" "$tools/vexil-qmgr" \
              "$tools/fakejdk/bin/java"; do
  [ -e "$needed" ] || { echo "demo.sh: $needed is missing: build first" >&2; exit 1; }
done

# The supervised application: the Java sample agent in the JDK's own java (the controller
# knows a JVM by the program's name, so not the /usr/bin link), or the native stand-in when
# there is no JDK.
java_bin=$(readlink -f "$(command -v java 2>/dev/null || echo none)" 2>/dev/null || true)
agent_jar=$build_dir/stage/java/lib/sample-agent.jar
if [ "$native_agent" = no ] && [ -x "$java_bin" ] && [ -f "$agent_jar" ]; then
  agent=("$java_bin" -jar "$agent_jar")
  agent_name="the Java sample agent"
else
  agent=("$tools/fakejdk/bin/java")
  agent_name="the native stand-in for the agent"
fi

# Paths are shown relative to the repository when they are inside it.
show() { case "$1" in "$repo"/*) echo "${1#"$repo"/}" ;; *) echo "$1" ;; esac; }

if [ "$check" = yes ]; then
  demo=$build_dir/demo-check
  service=demo-check
  app=DEMOCHECK$$
else
  demo=$build_dir/demo
  service=demo
  app=DEMO
fi
qmgr=DEMOQM
rm -rf "$demo"
mkdir -p "$demo/work" "$demo/qm"
# The simulated queue manager serves in this directory; libvexil.so looks for it there.
export VEXIL_SIM_DIR=$demo/qm
cat >"$demo/agent.properties" <<EOF
agentQMgr=$qmgr
agentQMgrRetryInterval=5
EOF

qm_pid=
svc_pid=
tail_pid=
stop_queue_manager() {
  if [ -n "$qm_pid" ] && kill -0 "$qm_pid" 2>/dev/null; then
    kill -TERM "$qm_pid" 2>/dev/null || true
    wait "$qm_pid" 2>/dev/null || true
  fi
  qm_pid=
}
cleanup() {
  [ -z "$tail_pid" ] || kill "$tail_pid" 2>/dev/null || true
  if [ -n "$svc_pid" ] && kill -0 "$svc_pid" 2>/dev/null; then
    kill -TERM "$svc_pid" 2>/dev/null || true
    wait "$svc_pid" 2>/dev/null || true
  fi
  stop_queue_manager
}
trap cleanup EXIT

# Both run in sessions of their own, so the terminal's Ctrl-C reaches only this script, which
# stops them in order: the service (and with it the agent) first, then the queue manager.
setsid "$tools/vexil-qmgr" "$qmgr" </dev/null >"$demo/qm/vexil-qmgr.log" 2>&1 &
qm_pid=$!
for _ in $(seq 100); do
  grep -q '^ready' "$demo/qm/vexil-qmgr.log" 2>/dev/null && break
  kill -0 "$qm_pid" 2>/dev/null || break
  sleep 0.1
done
grep -q '^ready' "$demo/qm/vexil-qmgr.log" 2>/dev/null || {
  echo "demo.sh: the simulated queue manager did not start:" >&2
  cat "$demo/qm/vexil-qmgr.log" >&2
  exit 1
}

setsid "$bin/ostarapcservice" "$service" "$demo" Info \
  "-directory=$demo/work" "-appId=$app" "-properties=$demo/agent.properties" \
  "-Dcom.quillon.velbrix.product.root=$prod" "${agent[@]}" \
  </dev/null >"$demo/service.out" 2>&1 &
svc_pid=$!

logs=$demo/logs
service_log=$logs/service$(date +%Y%m%d).log
event_log=$demo/work/logs/pcevent0.log
ctl=$(show "$bin/ostaractl")

where_logs() {
  echo "Logs:"
  echo "  service log            $(show "$service_log")"
  echo "  agent output           $(show "$logs/stdout.log") and stderr.log"
  echo "  controller event log   $(show "$event_log")"
  if [ "${agent[0]}" = "$java_bin" ]; then
    echo "  agent's own event log  $(show "$demo/work/logs/agentevent.log")"
  else
    echo "  agent's own log        $(show "$demo/work/sample-agent.log")"
  fi
}

if [ "$check" = yes ]; then
  status_text=
  for _ in $(seq 300); do
    if status_text=$("$bin/ostaractl" "$app" status 2>&1) &&
       grep -q '^processControllerStatus=STARTED' <<<"$status_text"; then
      break
    fi
    status_text=
    kill -0 "$svc_pid" 2>/dev/null || break
    sleep 0.1
  done
  if [ -z "$status_text" ]; then
    echo "demo check: the agent did not start; the service log says:" >&2
    cat "$service_log" "$demo/service.out" >&2 2>/dev/null || true
    exit 1
  fi
  echo "$ ostaractl $app status"
  echo "$status_text"
  kill -TERM "$svc_pid"
  rc=0
  wait "$svc_pid" || rc=$?
  svc_pid=
  stop_queue_manager
  if [ "$rc" -ne 0 ] || ! grep -q "Service $service exiting" "$service_log" ||
     ! grep -q "ProcessController shutdown, exit status: 0" "$service_log"; then
    echo "demo check: the service did not stop cleanly (exit status $rc):" >&2
    cat "$service_log" >&2 2>/dev/null || true
    exit 1
  fi
  echo "demo check passed: the service supervised the agent and stopped cleanly"
  exit 0
fi

cat <<EOF

The service program is running in the foreground (process $svc_pid), supervising
$agent_name (application $app) against the simulated queue manager $qmgr.
$(where_logs)
Try, in another terminal:
  $ctl $app status
  $ctl $app trace com.quillon.velbrix=all
  $ctl $app wake
  $ctl $app send GETA         the agent's own status (JCOR: a thread dump in stdout.log)
  $ctl $app stop              the agent stops and the service ends
Press Ctrl-C to stop the service, the agent and the queue manager.

EOF

# Show the service log and the controller's events as they are written.
tail -q -n +1 -F "$service_log" "$event_log" 2>/dev/null &
tail_pid=$!

interrupted=0
trap 'interrupted=$((interrupted + 1))' INT TERM
rc=
while [ -z "$rc" ]; do
  status=0
  wait "$svc_pid" || status=$?
  if kill -0 "$svc_pid" 2>/dev/null; then
    if [ "$interrupted" -eq 1 ]; then
      echo
      echo "Stopping the service: it asks the agent to stop, then ends."
      kill -TERM "$svc_pid" 2>/dev/null || true
      interrupted=2
    fi
  else
    rc=0
    wait "$svc_pid" 2>/dev/null || rc=$?
    [ "$rc" -ne 127 ] || rc=$status
  fi
done
svc_pid=
sleep 0.2
kill "$tail_pid" 2>/dev/null || true
wait "$tail_pid" 2>/dev/null || true
tail_pid=
stop_queue_manager
echo
if [ "$rc" -eq 0 ]; then
  echo "The service stopped cleanly; the queue manager is stopped too."
else
  echo "The service ended with exit status $rc (the controller's; see the event log)."
fi
where_logs
exit "$rc"
