#!/bin/sh
# Runs a command inside a network namespace of its own that has the loopback interface alone,
# with multicast routed there from 127.0.0.1, so that multicast DNS tests never reach a real
# interface. Without the route's source, datagrams would leave from 0.0.0.0, which responders
# drop. Exits 77 (skipped) with the reason when no such namespace can be made.
set -u
if [ "${VELT_IN_LOOPBACK_NAMESPACE:-}" != 1 ]; then
  for flags in -n -rn; do
    if unshare $flags true 2>/dev/null; then
      exec unshare $flags env VELT_IN_LOOPBACK_NAMESPACE=1 "$0" "$@"
    fi
  done
  echo "SKIPPED: no network namespace can be made here (unshare -n needs root, or user" \
       "namespaces for unshare -rn); the multicast DNS tests run only inside one" >&2
  exit 77
fi
if ! command -v ip >/dev/null 2>&1; then
  echo "SKIPPED: 'ip' (iproute2) is missing, so the namespace's loopback cannot be set up" >&2
  exit 77
fi
ip link set lo up && ip route add 224.0.0.0/4 dev lo src 127.0.0.1 || {
  echo "SKIPPED: the namespace's loopback interface cannot be set up for multicast" >&2
  exit 77
}
exec "$@"
