# The two commands a newcomer needs: `make demo` and `make test`.
BUILD := build
RELEASE := $(BUILD)/release
SANITIZE := $(BUILD)/sanitize
JOBS ?= $(shell nproc)
GENERATOR := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")

.PHONY: all demo test release clean windows test-windows test-windows32 package

all: release

release:
	cmake -S . -B $(RELEASE) $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DVESKAL_TESTS=OFF
	cmake --build $(RELEASE) -j $(JOBS)

demo: release
	sh examples/demo.sh $(RELEASE) $(BUILD)/demo

test:
	cmake -S . -B $(SANITIZE) $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DVESKAL_SANITIZE=ON -DVESKAL_WERROR=ON
	cmake --build $(SANITIZE) -j $(JOBS)
	cd $(SANITIZE) && ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD)

# Windows: both pairs of console programs cross-built with mingw-w64, the
# table of end-to-end cases run against each pair under Wine, and the packages.
WIN64 := $(BUILD)/win64
WIN32 := $(BUILD)/win32
WINE := $(BUILD)/wine
WINE32 := $(BUILD)/wine32

windows:
	cmake -S . -B $(WIN64) $(GENERATOR) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release -DVESKAL_TESTS=OFF -DVESKAL_WERROR=ON
	cmake --build $(WIN64) -j $(JOBS)
	cmake -S . -B $(WIN32) $(GENERATOR) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake -DCMAKE_BUILD_TYPE=Release -DVESKAL_TESTS=OFF -DVESKAL_WERROR=ON
	cmake --build $(WIN32) -j $(JOBS)

test-windows: windows
	cmake -S . -B $(WINE) $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DVESKAL_WERROR=ON -DVESKAL_WINE_TESTS=ON -DVESKAL_WINDOWS_BUILD=$(abspath $(WIN64))
	cmake --build $(WINE) -j $(JOBS) --target e2e_tests
	cd $(WINE) && ctest --output-on-failure -L wine

# The same cases against the 32-bit pair, in a Wine prefix made afresh: one
# made before 32-bit programs could run has no working 32-bit side.
test-windows32: windows
	tests/e2e/check-wine32
	cmake -S . -B $(WINE32) $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DVESKAL_WERROR=ON -DVESKAL_WINE_TESTS=ON -DVESKAL_WINDOWS_BUILD=$(abspath $(WIN32))
	cmake --build $(WINE32) -j $(JOBS) --target e2e_tests
	rm -rf $(WINE32)/tests/e2e/wineprefix $(WINE32)/tests/e2e/wineprefix.log
	cd $(WINE32) && ctest --output-on-failure -L wine

package: release windows
	cd $(RELEASE) && cpack -G DEB
	cd $(WIN64) && cpack -G ZIP
	cd $(WIN32) && cpack -G ZIP
	packaging/check $(RELEASE)/veskal_*.deb $(WIN64)/veskal-*-win64.zip $(WIN32)/veskal-*-win32.zip

include fuzz/Makefile.inc
