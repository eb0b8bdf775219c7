# The Debian package: exactly the files the install rules install, all under
# /usr; Depends computed from the shared libraries plus Qt's platform
# plugins; a maintainer and a description; no error from lintian.
. "$(dirname "$0")/install_common.sh"
: "${CPACK_COMMAND:?}"

"$CPACK_COMMAND" -G DEB --config "$BUILD_DIR/CPackConfig.cmake" -B "$work/package" >"$work/cpack.log" 2>&1 ||
    fail "cpack: $(cat "$work/cpack.log")"
deb=$(echo "$work"/package/railmon_*.deb)
[ -f "$deb" ] || fail "no package: $(cat "$work/cpack.log")"

stage="$work/stage"
stage_install "$stage"
sed "s|^$stage||" "$BUILD_DIR/install_manifest.txt" | sort >"$work/installed"
dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -v '/$' | sed 's|^\./|/|' | sort >"$work/packaged"
diff -u "$work/installed" "$work/packaged" >"$work/difference" ||
    fail "the package's files differ from the install's: $(cat "$work/difference")"
[ -z "$(grep -v '^/usr/' "$work/packaged")" ] || fail "files outside /usr: $(grep -v '^/usr/' "$work/packaged")"

field() { dpkg-deb -f "$deb" "$1"; }
depends=$(field Depends)
for package in qt6-qpa-plugins libqt6widgets6 libqt6uitools6 libqcustomplot2.1-qt6 libc6; do
    [[ ", $depends," == *", $package "* || ", $depends," == *", $package,"* ]] || fail "Depends lacks $package: $depends"
done
[ "$(field Maintainer)" = "railmon maintainers <maintainers@railmon.invalid>" ] || fail "Maintainer: $(field Maintainer)"
[ "$(field Description | wc -l)" -ge 3 ] || fail "Description: $(field Description)"

lintian --tag-display-limit 0 "$deb" >"$work/lintian" 2>&1 || true
grep -v 'running with root privileges' "$work/lintian" || true
! grep -q '^E: ' "$work/lintian" || fail "lintian reports errors"
echo "package: $(wc -l <"$work/packaged") files, as installed; Depends: $depends"
