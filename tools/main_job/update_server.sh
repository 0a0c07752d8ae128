# shellcheck shell=bash
# The main job's update server: nginx serving the publisher's tree on the update port, from
# tools/update_server/nginx.conf.in filled in for a prefix of its own. The job starts and
# stops it; the system's nginx service is never used. Sourced by tools/main_job.sh.
#   start_update_server <tree> <prefix>   returns once the port answers
#   stop_update_server
#   server_log_mark                       the access log's size now
#   server_requests_since <mark>          the requests logged after that mark
#   server_replies_have_length <mark>     whether every reply since then had a Content-Length

UPDATE_PORT=8008
SERVER_PID=""
SERVER_PREFIX=""
# Debian installs it in /usr/sbin, which an ordinary user's PATH may lack.
NGINX="$(command -v nginx || echo /usr/sbin/nginx)"

port_answers() {
  timeout 1 bash -c "exec 3<>/dev/tcp/127.0.0.1/$UPDATE_PORT" 2>/dev/null
}

start_update_server() {
  local tree="$1" prefix="$2"
  if [ ! -x "$NGINX" ]; then
    echo "main_job: nginx is missing (tools/install-deps.sh installs it)" >&2
    return 1
  fi
  if port_answers; then
    echo "main_job: port $UPDATE_PORT is already in use; run the job in a network namespace" \
      "of its own (see README) or stop what listens there" >&2
    return 1
  fi
  SERVER_PREFIX="$prefix"
  rm -rf "$prefix"
  mkdir -p "$prefix/logs" "$prefix/temp"
  # Run as root, nginx would hand the requests to "nobody", who may not reach the tree.
  local user="# the workers run as the user who started the server"
  if [ "$(id -u)" = 0 ]; then user="user root root;"; fi
  sed -e "s|@PREFIX@|$prefix|g" -e "s|@ROOT@|$tree|g" \
    -e "s|@LISTEN@|127.0.0.1:$UPDATE_PORT|g" -e "s|@USER@|$user|g" \
    "$ROOT/tools/update_server/nginx.conf.in" >"$prefix/nginx.conf"
  local nginx=("$NGINX" -p "$prefix" -c "$prefix/nginx.conf" -e "$prefix/logs/error.log")
  if ! "${nginx[@]}" -t -q 2>"$prefix/logs/config-test.log"; then
    echo "main_job: nginx refuses the generated config $prefix/nginx.conf:" >&2
    cat "$prefix/logs/config-test.log" >&2
    return 1
  fi
  "${nginx[@]}" </dev/null >>"$prefix/logs/error.log" 2>&1 &
  SERVER_PID=$!
  # About 10 s for the port to answer.
  for _ in $(seq 100); do
    if ! kill -0 "$SERVER_PID" 2>/dev/null; then
      echo "main_job: nginx exited at start:" >&2
      cat "$prefix/logs/error.log" >&2
      SERVER_PID=""
      return 1
    fi
    if port_answers; then return 0; fi
    sleep 0.1
  done
  echo "main_job: nginx did not answer on port $UPDATE_PORT within 10 s" >&2
  stop_update_server
  return 1
}

stop_update_server() {
  [ -n "$SERVER_PID" ] || return 0
  kill -QUIT "$SERVER_PID" 2>/dev/null # finish the replies under way, then stop
  # Bounded: escalate when it has not gone within about 5 s.
  for _ in $(seq 50); do
    kill -0 "$SERVER_PID" 2>/dev/null || break
    sleep 0.1
  done
  kill -TERM "$SERVER_PID" 2>/dev/null
  wait "$SERVER_PID" 2>/dev/null
  SERVER_PID=""
}

server_log_mark() {
  stat -c %s "$SERVER_PREFIX/logs/access.log" 2>/dev/null || echo 0
}

server_requests_since() {
  tail -c +"$(($1 + 1))" "$SERVER_PREFIX/logs/access.log" 2>/dev/null
}

server_replies_have_length() {
  ! server_requests_since "$1" | grep -qv 'Content-Length: [0-9][0-9]*$'
}
