# The two commands of the README: `make run` builds the game and starts it in this terminal,
# `make test` builds everything and runs every test. `make install` and `make package` install the
# game like any program; see the end of this file.

BUILD_PACKAGES := g++ cmake ninja-build make
TEST_PACKAGES := $(BUILD_PACKAGES) libgtest-dev tmux clang-14 libclang-rt-14-dev
RELEASE := build/release
TESTING := build/test
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
# The end-to-end tests spend most of their time waiting on a terminal, so twice as many run at once.
TEST_JOBS ?= $(shell echo $$(( $(JOBS) * 2 )))
# Warnings stop the test builds always, and every build in CI (which sets CI); a player's own
# build with a newer compiler is not stopped by a warning that compiler has learnt.
WERROR := $(if $(CI),ON,OFF)

.PHONY: run build test fuzz lint clean format

run: build
	./$(RELEASE)/vorlix

build:
	@tools/require-packages $(BUILD_PACKAGES)
	@cmake -S . -B $(RELEASE) -G Ninja -DCMAKE_BUILD_TYPE=Release -DVORLIX_WERROR=$(WERROR) >/dev/null
	@cmake --build $(RELEASE) --target vorlix

# The release build is part of the test, so that `make run` is known to build.
test: build
	@tools/require-packages $(TEST_PACKAGES)
	cmake -S . -B $(TESTING) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVORLIX_SANITIZE=ON -DVORLIX_TESTS=ON -DVORLIX_WERROR=ON
	cmake --build $(TESTING)
	ctest --test-dir $(TESTING) --output-on-failure -j $(TEST_JOBS)
	tests/fuzz/run-fuzzers 20 5
	tools/require-packages python3 && python3 tests/bench/bench.py --quick --binary $(TESTING)/vorlix

# The fuzz targets alone, for longer: ten minutes on the saved game, one on each other reader.
fuzz:
	@tools/require-packages $(TEST_PACKAGES)
	tests/fuzz/run-fuzzers 600 60

# clang-tidy with the checks of .clang-tidy over src/ and tests/, any finding an error. It reads the
# compile database of a configure of the native test build, so it sees the POSIX backend only: the
# Windows (src/platform/windows) and browser (src/platform/web) backends and the fuzz targets (a
# project of their own, built with clang) are not linted.
LINT_PACKAGES := $(TEST_PACKAGES) clang-tidy-14
LINTING := build/lint

lint:
	@tools/require-packages $(LINT_PACKAGES)
	@cmake -S . -B $(LINTING) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVORLIX_TESTS=ON >/dev/null
	run-clang-tidy-14 -p $(LINTING) -j $(JOBS) -quiet '/(src|tests)/'

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf build

# The Windows console build, cross-compiled with MinGW-w64: `make windows` makes a static
# build/windows/vorlix.exe. `make test-windows` builds the behaviour tests and the Windows
# backend's tests with the same compiler (GoogleTest from Debian's sources), runs them under wine
# in a wine prefix under build/windows-test, then plays vorlix.exe through under wine.
WINDOWS_PACKAGES := cmake ninja-build make g++-mingw-w64-x86-64-posix wine tmux
WINDOWS_TEST_PACKAGES := $(WINDOWS_PACKAGES) googletest
WINDOWS_TESTING := build/windows-test

.PHONY: windows test-windows

windows:
	@tools/require-packages $(WINDOWS_PACKAGES)
	@cmake -S . -B build/windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release -DVORLIX_WERROR=$(WERROR) >/dev/null
	@cmake --build build/windows --target vorlix

test-windows: windows
	@tools/require-packages $(WINDOWS_TEST_PACKAGES)
	cmake -S . -B $(WINDOWS_TESTING) -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
	  -DCMAKE_BUILD_TYPE=Debug -DVORLIX_TESTS=ON -DVORLIX_WERROR=ON -DCMAKE_CROSSCOMPILING_EMULATOR=wine
	cmake --build $(WINDOWS_TESTING)
	ctest --test-dir $(WINDOWS_TESTING) --output-on-failure -j $(JOBS)
	tests/windows/smoke.sh build/windows/vorlix.exe

# The performance bench: the release game in a 155x42 pseudo-terminal, measured as a player's
# terminal sees it (start-up, CPU, bytes and pace of the ticks, system calls, memory), printed as
# one table. docs/performance.md holds the last run and what its figures mean.
.PHONY: bench

bench: build
	@tools/require-packages python3 strace
	python3 tests/bench/bench.py

# Pictures of the release game in a real terminal, in docs/: a 155x42 xterm on a virtual X screen
# (Xvfb), keys sent through tmux, each picture taken with ImageMagick's import. Not part of
# `make test`.
SCREENSHOT_PACKAGES := xterm xvfb imagemagick tmux fonts-dejavu-core
.PHONY: screenshots

screenshots: build
	@tools/require-packages $(SCREENSHOT_PACKAGES)
	tools/screenshots

# Installing: `make install` puts the release build under PREFIX (in DESTDIR when given): the
# vorlix command in games/, which plays in each player's own data folder, the game in
# lib/games/vorlix, its help.txt in share/games/vorlix and the manual page in share/man/man6.
# `make uninstall` removes exactly those (and the folders they leave empty), never a player's
# files. `make package` builds the Debian package build/package/vorlix_<version>_<arch>.deb from
# the same install step; `make test-package` builds it and checks it (its contents, and lintian).
PREFIX ?= /usr/local
DESTDIR ?=
PACKAGE_PACKAGES := dpkg-dev binutils
.PHONY: install uninstall package test-package

install: build
	DESTDIR="$(DESTDIR)" cmake --install $(RELEASE) --prefix "$(PREFIX)"

uninstall:
	rm -f "$(DESTDIR)$(PREFIX)/games/vorlix" "$(DESTDIR)$(PREFIX)/lib/games/vorlix/vorlix" \
	  "$(DESTDIR)$(PREFIX)/share/games/vorlix/help.txt" "$(DESTDIR)$(PREFIX)/share/man/man6/vorlix.6"
	rmdir "$(DESTDIR)$(PREFIX)/lib/games/vorlix" "$(DESTDIR)$(PREFIX)/share/games/vorlix" \
	  "$(DESTDIR)$(PREFIX)/lib/games" "$(DESTDIR)$(PREFIX)/share/games" 2>/dev/null || true

package: build
	@tools/require-packages $(PACKAGE_PACKAGES)
	packaging/build-deb $(RELEASE) build/package

test-package: package
	@tools/require-packages lintian
	packaging/check-deb build/package/vorlix_*.deb

# The browser edition: `make web` builds build/web/, a folder any static file server can serve:
# the page and its scripts (web/), the game compiled to WebAssembly by Debian's emscripten
# (vorlix.js and vorlix.wasm), the terminal widget (xterm.js and its WebGL renderer, from npm at
# the versions web/package-lock.json pins), the manifest with its icon drawn at the sizes it
# names, and the service worker, named by a hash of all the other files; beside each file that
# compresses, its gzip copy.
# `make serve-web` serves it on this machine (web/serve.py: compressed, with cache headers).
# `make test-web` builds the in-memory behaviour tests with emscripten and runs them under node,
# then plays the page through in headless Chromium.
WEB_PACKAGES := emscripten binaryen cmake ninja-build make librsvg2-bin
WEB_TEST_PACKAGES := $(WEB_PACKAGES) googletest chromium fonts-dejavu-core python3
WEB_SITE := build/web
WEB_PORT ?= 8155
WEB_WIDGET := web/node_modules/@xterm/xterm/lib/xterm.mjs web/node_modules/@xterm/xterm/css/xterm.css \
  web/node_modules/@xterm/addon-webgl/lib/addon-webgl.mjs
WEB_PAGE := web/index.html web/page.mjs web/renderer.mjs web/controls.mjs web/leaving.mjs \
  web/webgl-probe.js web/manifest.webmanifest web/icon.svg
# emscripten's own scripts need Debian's node modules when the node on the path is not Debian's.
WEB_ENV := NODE_PATH=/usr/share/nodejs
.PHONY: web serve-web test-web web-widget

web-widget:
	@command -v npm >/dev/null || tools/require-packages nodejs npm
	@test web/node_modules/.package-lock.json -nt web/package-lock.json || (cd web && npm ci --no-audit --no-fund --ignore-scripts >/dev/null)

web: web-widget
	@tools/require-packages $(WEB_PACKAGES)
	@$(WEB_ENV) emcmake cmake -S . -B build/web-build -G Ninja -DCMAKE_BUILD_TYPE=Release -DVORLIX_WERROR=$(WERROR) >/dev/null
	@$(WEB_ENV) cmake --build build/web-build --target vorlix
	@rm -rf $(WEB_SITE) && mkdir -p $(WEB_SITE)
	@cp $(WEB_PAGE) $(WEB_WIDGET) build/web-build/vorlix.js build/web-build/vorlix.wasm $(WEB_SITE)/
	@for size in 192 512; do rsvg-convert -w $$size -h $$size web/icon.svg -o $(WEB_SITE)/icon-$$size.png; done
	@build=$$(cd $(WEB_SITE) && cat $$(ls) | sha256sum | cut -c1-16) && sed "s/@BUILD@/$$build/" web/sw.js >$(WEB_SITE)/sw.js
	@gzip -9 -k -n $(WEB_SITE)/*.html $(WEB_SITE)/*.js $(WEB_SITE)/*.mjs $(WEB_SITE)/*.css \
	  $(WEB_SITE)/*.wasm $(WEB_SITE)/*.svg $(WEB_SITE)/*.webmanifest
	@echo "The browser edition is in $(WEB_SITE)/"

serve-web: web
	@tools/require-packages python3
	python3 web/serve.py $(WEB_SITE) $(WEB_PORT)

test-web: web
	@tools/require-packages $(WEB_TEST_PACKAGES)
	$(WEB_ENV) emcmake cmake -S . -B build/web-test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVORLIX_TESTS=ON \
	  -DVORLIX_WERROR=ON -DCMAKE_CROSSCOMPILING_EMULATOR=node
	$(WEB_ENV) cmake --build build/web-test
	ctest --test-dir build/web-test --output-on-failure -j $(JOBS)
	node tests/web/play.mjs $(WEB_SITE) build/web-test
