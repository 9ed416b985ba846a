# The Windows program and its tests, cross-compiled with MinGW-w64 against the static Qt of
# scripts/lib/qt-mingw: shared by scripts/test-windows and scripts/package-windows.
# shellcheck shell=bash

# Where the Windows builds go: <build folder>/windows, absolute (Wine wants its prefix that way).
WINDOWS_BUILDS=$(realpath -m "${KESTROVE_BUILD_DIR:-$KESTROVE_ROOT/build}/windows")
# The program and the tests, in one build folder; its Wine prefix is <that>/wine.
WINDOWS_BUILD=$WINDOWS_BUILDS/kestrove

# windows_build [TARGET...]: GoogleTest (once per version) and Qt (once per machine) for
# MinGW-w64, then configures and builds the given targets (default: all of them).
windows_build() {
    ensure_packages "${WINDOWS_PACKAGES[@]}" googletest fonts-wqy-zenhei
    local toolchain=$KESTROVE_ROOT/cmake/mingw-w64-x86_64.cmake
    local deps=$WINDOWS_BUILDS/deps qt
    # Lean on purpose: CI has two cores for everything.
    local jobs=2

    local gtest_version gtest_stamp=$deps/googletest-version
    gtest_version=$(dpkg-query -W -f='${Version}' googletest)
    if [ "$(cat "$gtest_stamp" 2>/dev/null)" != "$gtest_version" ]; then
        say "Windows: GoogleTest $gtest_version for MinGW-w64"
        rm -rf "$WINDOWS_BUILDS/googletest" "$deps"
        cmake -S /usr/src/googletest -B "$WINDOWS_BUILDS/googletest" -G Ninja \
            -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
            -DCMAKE_INSTALL_PREFIX="$deps" -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON >/dev/null
        cmake --build "$WINDOWS_BUILDS/googletest" -j "$jobs"
        cmake --install "$WINDOWS_BUILDS/googletest" >/dev/null
        echo "$gtest_version" >"$gtest_stamp"
    fi

    qt=$("$KESTROVE_ROOT/scripts/lib/qt-mingw") || die "no Qt for MinGW-w64"

    say "Windows: the program, its libraries and their tests, cross-compiled with MinGW-w64"
    # Qt's tools (moc, rcc) are the machine's own of the same version. A release build: the
    # download is made from it, and debugging information would only slow the links down.
    cmake -S "$KESTROVE_ROOT" -B "$WINDOWS_BUILD" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_BUILD_TYPE=Release \
        -DKESTROVE_WINDOWS_DEPS="$deps;$qt" -DQT_HOST_PATH=/usr \
        -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
        -DKESTROVE_GUI=ON -DKESTROVE_BENCH=OFF -DKESTROVE_WERROR=ON >/dev/null
    local targets=()
    [ $# -gt 0 ] && targets=(--target "$@")
    cmake --build "$WINDOWS_BUILD" -j "$jobs" "${targets[@]}"
}
