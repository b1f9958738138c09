#!/usr/bin/env bash
# Runs a command on a small LAN of two network namespaces joined by a veth pair: the command
# runs in the client namespace and finds the server namespace's name and addresses in
#   LAN_SERVER_NS, LAN_SERVER_ADDR, LAN_CLIENT_ADDR, LAN_CLIENT_IF
# Multicast is routed over the veth on both ends, so SSDP flows; nothing leaves the machine.
# Both namespaces are removed afterwards, whatever happens. Needs root; exits 77 (skipped)
# without it.
#   netns-run.sh [--pairs N] COMMAND [ARG...]   (N > 1 adds N-1 more server addresses)
set -euo pipefail
if [[ $(id -u) -ne 0 ]] || ! command -v ip >/dev/null; then
  echo "skipped: the LAN namespaces need root and iproute2" >&2
  exit 77
fi
extra=0
if [[ ${1:-} == --pairs ]]; then
  extra=$(($2 - 1))
  shift 2
fi
tag=v$$
server=${tag}s
client=${tag}c
cleanup() {
  ip netns pids "$server" 2>/dev/null | xargs -r kill -9 2>/dev/null || true
  ip netns pids "$client" 2>/dev/null | xargs -r kill -9 2>/dev/null || true
  ip netns del "$server" 2>/dev/null || true
  ip netns del "$client" 2>/dev/null || true
}
trap cleanup EXIT
# A private test range; the third octet from the process id keeps parallel runs apart.
net=10.$((200 + $$ % 50)).$(($$ % 250))
ip netns add "$server"
ip netns add "$client"
ip link add "${tag}a" type veth peer name "${tag}b"
ip link set "${tag}a" netns "$server"
ip link set "${tag}b" netns "$client"
ip -n "$server" addr add "$net.1/24" dev "${tag}a"
for ((i = 0; i < extra; i++)); do
  ip -n "$server" addr add "$net.$((10 + i))/24" dev "${tag}a"
done
ip -n "$client" addr add "$net.2/24" dev "${tag}b"
for ns in "$server" "$client"; do
  ip -n "$ns" link set lo up
done
ip -n "$server" link set "${tag}a" up
ip -n "$client" link set "${tag}b" up
ip -n "$server" route add 239.0.0.0/8 dev "${tag}a"
ip -n "$client" route add 239.0.0.0/8 dev "${tag}b"
export LAN_SERVER_NS=$server LAN_SERVER_ADDR=$net.1 LAN_CLIENT_ADDR=$net.2 LAN_CLIENT_IF=${tag}b
status=0
ip netns exec "$client" "$@" || status=$?
exit $status
