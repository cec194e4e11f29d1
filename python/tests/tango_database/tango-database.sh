#!/usr/bin/env bash
# A Tango database for the tests: Debian's MariaDB and tango-db, without
# systemd. `start FOLDER` installs the packages when they are missing (through
# scripts/install-deps.sh), starts MariaDB when it is not running, starts a
# DataBaseds on a free loopback port and writes its TANGO_HOST to
# FOLDER/tango_host; `stop FOLDER` stops what start started.
set -euo pipefail

root=$(cd "$(dirname "$0")/../../.." && pwd)
action=${1:?usage: tango-database.sh start|stop FOLDER}
folder=${2:?usage: tango-database.sh start|stop FOLDER}
python=/usr/bin/python3

mariadb_up() { mariadb-admin --protocol=socket ping >/dev/null 2>&1; }

wait_for() {  # seconds, what, command...
  local seconds=$1 what=$2
  shift 2
  for _ in $(seq $((seconds * 10))); do
    if "$@"; then return 0; fi
    sleep 0.1
  done
  echo "tango-database: $what did not come up in $seconds s" >&2
  return 1
}

stop_pid() {  # file
  [ -f "$1" ] || return 0
  local pid
  pid=$(cat "$1")
  rm -f "$1"
  kill "$pid" 2>/dev/null || return 0
  for _ in $(seq 100); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.1
  done
  kill -9 "$pid" 2>/dev/null || true
}

start_mariadb() {
  # The runtime folder that a service manager would create; mariadbd runs as
  # mysql and keeps its socket and pid there. No network: tango-db's server
  # talks to it through the socket.
  install -d -o mysql -g mysql /run/mysqld
  mariadbd --user=mysql --skip-networking >"$folder/mariadb.log" 2>&1 &
  echo $! >"$folder/mariadb.pid"
  wait_for 60 MariaDB mariadb_up || { cat "$folder/mariadb.log" >&2; exit 1; }
}

start() {
  mkdir -p "$folder"
  # A private network namespace (unshare -n) starts with its loopback down.
  if command -v ip >/dev/null && ! ip -o addr show dev lo | grep -q 127.0.0.1; then
    ip link set lo up
  fi
  NADIXQ_EXTRA_PACKAGES="mariadb-server" bash "$root/scripts/install-deps.sh"
  mariadb_up || start_mariadb
  if ! dpkg-query -W -f='${Status}' tango-db 2>/dev/null | grep -q 'install ok installed'; then
    # tango-db creates its schema through dbconfig-common at install time,
    # in the MariaDB that is now running, when it is told to.
    if [ "$(id -u)" -eq 0 ]; then
      echo "tango-db tango-db/dbconfig-install boolean true" | debconf-set-selections
    fi
    NADIXQ_EXTRA_PACKAGES="tango-db" bash "$root/scripts/install-deps.sh"
  fi
  # shellcheck disable=SC1091
  password=$(. /etc/dbconfig-common/tango-db.conf && echo "$dbc_dbpass")
  port=$("$python" -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  MYSQL_USER=tango MYSQL_PASSWORD=$password /usr/lib/tango/DataBaseds 2 \
    -ORBendPoint "giop:tcp:127.0.0.1:$port" >"$folder/databaseds.log" 2>&1 &
  echo $! >"$folder/databaseds.pid"
  export TANGO_HOST=127.0.0.1:$port
  wait_for 60 DataBaseds tango_admin --ping-database 1 || { cat "$folder/databaseds.log" >&2; exit 1; }
  echo "$TANGO_HOST" >"$folder/tango_host"
  echo "Tango database at $TANGO_HOST"
}

stop() {
  stop_pid "$folder/databaseds.pid"
  # A MariaDB that was running before start is left running.
  if [ -f "$folder/mariadb.pid" ]; then
    mariadb-admin --protocol=socket shutdown >/dev/null 2>&1 || true
    stop_pid "$folder/mariadb.pid"
  fi
  rm -f "$folder/tango_host"
}

case "$action" in
  start) start ;;
  stop) stop ;;
  *) echo "usage: tango-database.sh start|stop FOLDER" >&2; exit 2 ;;
esac
