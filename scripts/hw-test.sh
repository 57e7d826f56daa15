#!/usr/bin/env bash
# The library on the kernel's own serial drivers, which pseudo-terminals
# cannot stand for (modem lines, line errors, breaks, low latency,
# unplugging): a Linux guest under qemu's software emulation with a 16550
# UART (8250), qemu's USB serial adapter and a modelled FT232-class adapter
# (both ftdi_sio), each joined on this machine to a receiver simulator. The
# tests (hw_tests) run in the guest; halvex-hw-host joins the lines and
# carries out what the guest asks for on a control line.
#
#   scripts/hw-test.sh [BUILD_DIR [TEST_ARGUMENTS...]]
#
# BUILD_DIR is a native build with tests (default build); the arguments
# after it go to hw_tests in the guest (--gtest_filter=..., say).
# HALVEX_HW_KEEP=1 keeps the run's folder: logs of the simulators, the
# host side and the guest.
# Installs what it needs; keeps Debian's kernel in $HALVEX_CACHE (default
# /var/cache/halvex32, outside the repository) between runs.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
if [ "${1:-}" = -h ] || [ "${1:-}" = --help ]; then
  sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'
  exit 0
fi
if [ ! -d "${1:-$top/build}" ]; then
  echo "hw-test: no build in ${1:-$top/build} (cmake -S . -B build -DHALVEX_TESTS=ON && cmake --build build)" >&2
  exit 2
fi
build=$(cd "${1:-$top/build}" && pwd)
guest_arguments=("${@:2}")
"$top/scripts/install-deps.sh" hw
for program in hw_tests halvex-hw-host; do
  if [ ! -x "$build/tests/$program" ]; then
    echo "hw-test: $build/tests/$program is missing (a build with -DHALVEX_TESTS=ON after install-deps.sh hw)" >&2
    exit 1
  fi
done
start=$(date +%s)

# Debian's current kernel: the image and the modules of the USB stack.
cache=${HALVEX_CACHE:-/var/cache/halvex32}
mkdir -p "$cache" 2>/dev/null || cache=${XDG_CACHE_HOME:-$HOME/.cache}/halvex32
current_kernel() { apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-/ { print $2; exit }'; }
package=$(current_kernel)
if [ -z "$package" ]; then
  apt-get update -qq || true
  package=$(current_kernel)
fi
if [ -z "$package" ]; then
  echo "hw-test: Debian's package index names no linux-image-amd64 kernel" >&2
  exit 1
fi
kernel=$cache/$package
modules=(usb-common usbcore xhci-hcd xhci-pci usbserial ftdi_sio) # in the order they load
if [ ! -f "$kernel/vmlinuz" ]; then
  echo "hw-test: fetching $package"
  rm -rf "$kernel" && mkdir -p "$kernel"
  if ! (cd "$kernel" && apt-get download -q "$package" >"$kernel/download.log" 2>&1); then
    echo "hw-test: cannot download $package:" >&2
    cat "$kernel/download.log" >&2
    exit 1
  fi
  deb=$(ls "$kernel"/*.deb)
  dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$kernel" --wildcards './boot/vmlinuz-*' './lib/modules/*/kernel/drivers/usb/*'
  for m in "${modules[@]}"; do
    find "$kernel/lib/modules" -name "$m.ko" -exec mv {} "$kernel/" \;
  done
  mv "$kernel"/boot/vmlinuz-* "$kernel/vmlinuz"
  rm -rf "$kernel/boot" "$kernel/lib" "$deb" "$kernel/download.log"
fi

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  if [ -n "${HALVEX_HW_KEEP:-}" ]; then echo "hw-test: kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

# The guest: busybox, the tests and the tool with the libraries they load
# (in the system's own directory: the guest's /tmp would hide a build's),
# and the modules.
root=$work/root
mkdir -p "$root"/{bin,dev,proc,sys,tmp,lib64,lib/x86_64-linux-gnu,modules}
cp /bin/busybox "$root/bin/"
cp "$build/tests/hw_tests" "$build/halvex" "$root/bin/"
for lib in $(ldd "$build/tests/hw_tests" "$build/halvex" | awk '/=> \// { print $3 }' | sort -u); do
  cp -L "$lib" "$root/lib/x86_64-linux-gnu/"
done
cp -L /lib64/ld-linux-x86-64.so.2 "$root/lib64/"
for m in "${modules[@]}"; do cp "$kernel/$m.ko" "$root/modules/"; done
cat >"$root/init" <<EOF
#!/bin/busybox sh
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
for m in ${modules[*]}; do insmod /modules/\$m.ko; done
cd /tmp
HOME=/tmp TMPDIR=/tmp HALVEX_TOOL=/bin/halvex HALVEX_HW_UART=/dev/ttyS1 HALVEX_HW_CONTROL=/dev/ttyS2 /bin/hw_tests ${guest_arguments[*]}
status=\$?
# What the kernel said helps with a failure that the tests cannot explain.
[ \$status = 0 ] || dmesg | tail -40
echo "halvex-hw: exit \$status"
poweroff -f
EOF
chmod +x "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet) >"$work/initramfs"

# A receiver for each line; qemu's adapter opens its simulator's terminal
# itself, the host side the two others.
for line in uart qemu-adapter adapter; do
  "$build/halvex-sim" --baud 0 --preset modern --link "$work/$line-line" >"$work/sim-$line.log" 2>&1 &
  pids+=($!)
done
for line in uart qemu-adapter adapter; do
  for _ in $(seq 100); do [ -e "$work/$line-line" ] && break; sleep 0.05; done
done
"$build/tests/halvex-hw-host" "$work" "$work/uart-line" "$work/adapter-line" >"$work/host.out" 2>"$work/host.log" &
pids+=($!)
for _ in $(seq 100); do grep -q ready "$work/host.out" 2>/dev/null && break; sleep 0.05; done

echo "hw-test: booting the guest ($(basename "$package"))"
# The whole run takes half a minute; a guest that hangs is stopped.
timeout 300 qemu-system-x86_64 -accel tcg -m 512 -display none -monitor none -no-reboot \
  -kernel "$kernel/vmlinuz" -initrd "$work/initramfs" -append "console=ttyS0 quiet panic=-1" \
  -serial stdio \
  -chardev socket,id=uart,path="$work/uart.sock" -device isa-serial,chardev=uart,index=1 \
  -chardev socket,id=control,path="$work/control.sock" -device isa-serial,chardev=control,index=2 \
  -device qemu-xhci \
  -chardev serial,id=qemu-adapter,path="$work/qemu-adapter-line" -device usb-serial,chardev=qemu-adapter \
  -chardev socket,id=adapter,path="$work/adapter.sock" -device usb-redir,chardev=adapter \
  </dev/null | tr -d '\r' | tee "$work/guest.log" || true
status=$(sed -n 's/^halvex-hw: exit \([0-9]*\)$/\1/p' "$work/guest.log")
if [ -s "$work/host.log" ]; then
  echo "hw-test: the host side said:"
  cat "$work/host.log"
fi
echo "hw-test: $(($(date +%s) - start)) s"
if [ "$status" != 0 ]; then
  echo "hw-test: the tests in the guest ${status:+failed (exit $status)}${status:-did not finish}" >&2
  exit 1
fi
