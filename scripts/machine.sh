#!/bin/sh
# One line describing the machine a measurement ran on.
cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)
memory=$(awk '/^MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo)
system=$(. /etc/os-release && echo "$PRETTY_NAME")
echo "Measured $(date -u +%Y-%m-%d) on $(nproc) cores of $cpu, $memory, $system," \
    "Linux $(uname -r)."
