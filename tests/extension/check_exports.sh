#!/bin/sh
# Checks that the extension library exports exactly GetExtensionVersion and HttpExtensionProc,
# carries its version block and its version in its file name.
set -eu
lib=$1
exports=$(nm -D --defined-only "$lib" | awk '{print $3}' | sort | tr '\n' ' ')
[ "$exports" = "GetExtensionVersion HttpExtensionProc " ] || { echo "exports: $exports"; exit 1; }
block=$(readelf -p .parvix.version "$lib")
for text in "FileDescription=Parvix Internet Server Extension Module" \
  "ProductName=Parvix Internet Server Extension" "FileVersion=1.0.0.1" "ProductVersion=1.0.0.1"; do
  echo "$block" | grep -qF "$text" || { echo "version block lacks $text"; exit 1; }
done
case "$(readlink -f "$lib")" in
  *libparvix.so.1.0.0.1) ;;
  *) echo "library file $(readlink -f "$lib") does not carry version 1.0.0.1"; exit 1 ;;
esac
echo "exports and version block as expected"
