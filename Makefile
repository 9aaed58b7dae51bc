# The two commands a newcomer needs: `make demo` and `make test`. Each first
# installs the Debian packages it needs when they are missing
# (packaging/need, from the list in packaging/debian-packages).
BUILD := build
RELEASE := $(BUILD)/release
SANITIZE := $(BUILD)/sanitize
PACKAGES := $(BUILD)/packages
JOBS ?= $(shell nproc)
# Looked up when a recipe runs, after packaging/need may have installed it.
GENERATOR = $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")
NEED := packaging/need
PREFIX ?= /usr/local

# File dates in the packages and the manual pages: the time of the last
# commit, so that two builds of one commit give the same bytes.
# Outside a git checkout: the day of the newest CHANGELOG.md entry.
ifndef SOURCE_DATE_EPOCH
SOURCE_DATE_EPOCH := $(shell git log -1 --format=%ct 2>/dev/null || \
	date -u -d "$$(sed -n 's/^\#\# [0-9.]* (\(.*\))$$/\1/p' CHANGELOG.md | head -n 1)" +%s)
endif
export SOURCE_DATE_EPOCH

# The programs that are installed and shipped are built with Debian's build
# flags (hardening, and the source folder's path mapped to "."), where
# dpkg-buildflags is there to say them.
BUILDFLAGS = DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get
RELEASE_FLAGS = $(if $(shell command -v dpkg-buildflags),\
	"-DCMAKE_CXX_FLAGS=$(shell $(BUILDFLAGS) CPPFLAGS) $(shell $(BUILDFLAGS) CXXFLAGS)" \
	"-DCMAKE_EXE_LINKER_FLAGS=$(shell $(BUILDFLAGS) LDFLAGS)")

.PHONY: all demo test release clean windows test-windows test-windows32 package install uninstall \
	need-build need-test need-windows

all: release

# Separate targets, so that what they install is there when the recipes that
# need it are expanded.
need-build:
	$(NEED) build
need-test:
	$(NEED) build test
need-windows:
	$(NEED) build windows

release: need-build
	cmake -S . -B $(RELEASE) $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DVESKAL_TESTS=OFF $(RELEASE_FLAGS)
	cmake --build $(RELEASE) -j $(JOBS)

demo: release
	sh examples/demo.sh $(RELEASE) $(BUILD)/demo

test: need-test
	cmake -S . -B $(SANITIZE) $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DVESKAL_SANITIZE=ON -DVESKAL_WERROR=ON
	cmake --build $(SANITIZE) -j $(JOBS)
	cd $(SANITIZE) && ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD)

# The programs, manual pages, bash completions, license and changelog under
# PREFIX (and DESTDIR, when given); uninstall removes the same files, and the
# folders below PREFIX/share that they leave empty (not share/man). As root
# (sudo make install) an existing build is used as it is, so that nothing in
# the build folder comes to belong to root: `make` first.
INSTALL_BUILD = $(if $(and $(filter 0,$(shell id -u)),$(wildcard $(RELEASE)/cmake_install.cmake)),,release)

install: $(INSTALL_BUILD)
	DESTDIR="$(DESTDIR)" cmake --install $(RELEASE) --prefix "$(PREFIX)" --strip

uninstall: $(INSTALL_BUILD)
	rm -rf $(BUILD)/uninstall
	DESTDIR="$(abspath $(BUILD))/uninstall" cmake --install $(RELEASE) --prefix "$(PREFIX)" >/dev/null
	cd "$(BUILD)/uninstall$(PREFIX)" && find . ! -type d | sort | while read -r file; do \
	  rm -fv "$(DESTDIR)$(PREFIX)/$${file#./}"; done
	cd "$(BUILD)/uninstall$(PREFIX)" && find . -mindepth 2 -depth -type d ! -path ./share/man | while read -r dir; do \
	  rmdir -v "$(DESTDIR)$(PREFIX)/$${dir#./}" 2>/dev/null || true; done
	rm -rf $(BUILD)/uninstall

# Windows: both pairs of console programs cross-built with mingw-w64, the
# table of end-to-end cases run against each pair under Wine, and the packages.
WIN64 := $(BUILD)/win64
WIN32 := $(BUILD)/win32
WINE := $(BUILD)/wine
WINE32 := $(BUILD)/wine32

windows: need-windows
	cmake -S . -B $(WIN64) $(GENERATOR) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release -DVESKAL_TESTS=OFF -DVESKAL_WERROR=ON
	cmake --build $(WIN64) -j $(JOBS)
	cmake -S . -B $(WIN32) $(GENERATOR) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake -DCMAKE_BUILD_TYPE=Release -DVESKAL_TESTS=OFF -DVESKAL_WERROR=ON
	cmake --build $(WIN32) -j $(JOBS)

test-windows: windows
	$(NEED) test
	cmake -S . -B $(WINE) $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DVESKAL_WERROR=ON -DVESKAL_WINE_TESTS=ON -DVESKAL_WINDOWS_BUILD=$(abspath $(WIN64))
	cmake --build $(WINE) -j $(JOBS) --target e2e_tests
	cd $(WINE) && ctest --output-on-failure -L wine

# The same cases against the 32-bit pair, in a Wine prefix made afresh: one
# made before 32-bit programs could run has no working 32-bit side.
test-windows32: windows
	$(NEED) test
	tests/e2e/check-wine32
	cmake -S . -B $(WINE32) $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DVESKAL_WERROR=ON -DVESKAL_WINE_TESTS=ON -DVESKAL_WINDOWS_BUILD=$(abspath $(WIN32))
	cmake --build $(WINE32) -j $(JOBS) --target e2e_tests
	rm -rf $(WINE32)/tests/e2e/wineprefix $(WINE32)/tests/e2e/wineprefix.log
	cd $(WINE32) && ctest --output-on-failure -L wine

# The .deb and the two .zip files side by side in build/packages, checked,
# with their SHA256SUMS.
package: release windows
	$(NEED) package
	rm -rf $(PACKAGES) $(RELEASE)/veskal_*.deb $(WIN64)/veskal-*.zip $(WIN32)/veskal-*.zip
	cd $(RELEASE) && cpack -G DEB
	cd $(WIN64) && cpack -G ZIP
	cd $(WIN32) && cpack -G ZIP
	mkdir -p $(PACKAGES)
	cp $(RELEASE)/veskal_*.deb $(WIN64)/veskal-*-win64.zip $(WIN32)/veskal-*-win32.zip $(PACKAGES)/
	packaging/check $(PACKAGES)/veskal_*.deb $(PACKAGES)/veskal-*-win64.zip $(PACKAGES)/veskal-*-win32.zip
	cd $(PACKAGES) && sha256sum veskal* >SHA256SUMS && cat SHA256SUMS

include fuzz/Makefile.inc
