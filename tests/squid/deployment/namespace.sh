#!/bin/bash
# The deployment test's machine: run by `unshare --mount --net --pid --fork --mount-proc` as the
# first process of new namespaces. The folders that docs/deployment.md writes become copy-on-write
# layers over the host's (DIR/layers/NAME/upper over NAME/lower, a read-only view of the host's
# folder), gone with the namespace; the network has only loopback, so the guide's ports (80,
# 3128) are the test's own. Debian's squid and nginx are started as after their install. Then it
# waits, reaping orphans, until it is killed: that ends every process started in here.
set -eu
dir=$1
mount -t tmpfs minutrix-layers "$dir/layers"
for top in /etc /var /run /root /usr/local; do
  layer=$dir/layers/${top//\//_}
  mkdir -p "$layer/upper" "$layer/work" "$layer/lower"
  mount --bind "$top" "$layer/lower"
  mount -o remount,bind,ro "$layer/lower"
  mount -t overlay overlay -o "lowerdir=$layer/lower,upperdir=$layer/upper,workdir=$layer/work" "$top"
done
ip link set lo up
# What the network's DNS would answer for the server's name.
printf '127.0.0.1 localhost\n::1 localhost\n127.0.0.1 proxy.school.example\n' >/etc/hosts
# Only to keep the test short: Debian's Squid waits 30 s for its clients when it stops.
echo 'shutdown_lifetime 1 seconds' >/etc/squid/conf.d/test-shutdown.conf
# Debian's trust store as its own command makes it, so that the guide's change to it can be undone
# to the byte (a host may have certificates put there by other means).
update-ca-certificates --fresh >/dev/null 2>&1
systemctl start nginx
systemctl start squid
touch "$dir/ready"
trap 'exit 0' TERM
while :; do sleep 3600 & wait $! || true; done
