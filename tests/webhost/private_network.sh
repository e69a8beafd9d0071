#!/usr/bin/env bash
# Runs a command in a network namespace of its own, so that a test may cut
# the network (with nftables) without touching the machine's: loopback, and
# a veth pair with a default route, without which Chromium gathers no
# candidates at all. Needs root.
set -euo pipefail
if [[ ${1:-} != --inside ]]; then
  exec unshare --net bash "${BASH_SOURCE[0]}" --inside "$@"
fi
shift
ip link set lo up
ip link add kvpn0 type veth peer name kvpn1
ip addr add 10.77.0.1/24 dev kvpn0
ip link set kvpn0 up
ip link set kvpn1 up
ip route add default via 10.77.0.2 dev kvpn0 onlink
exec "$@"
