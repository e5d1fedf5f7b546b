# The two commands a new user needs: `make run` and `make test` (see README.md).
JOBS ?= $(shell nproc)
CMAKE_COMMON = -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++

.PHONY: run test bench deps-build deps-test deps-bench release debug-build clean format install \
	uninstall deb

deps-build:
	@sh tools/install-deps.sh build
deps-test:
	@sh tools/install-deps.sh test
deps-bench:
	@sh tools/install-deps.sh bench

build/release/build.ninja: CMakeLists.txt
	cmake -S . -B build/release $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=Release -DVELLUMO_TESTS=OFF

release: deps-build build/release/build.ninja
	cmake --build build/release -j $(JOBS)

run: release
	@./tools/run.sh build/release

# One sanitizer build serves the unit, conformance and end-to-end tests and the fuzz smoke.
# `make install` puts the programs in $(PREFIX)/lib/vellumo with links in $(PREFIX)/bin, the menu
# entry, icons, man pages and the systemd user unit under $(PREFIX)/share; DESTDIR is honoured.
PREFIX ?= $(HOME)/.local
install: release
	DESTDIR="$(DESTDIR)" cmake --install build/release --prefix "$(PREFIX)"

uninstall:
	DESTDIR="$(DESTDIR)" sh tools/install/uninstall.sh build/release

# The Debian package (programs in /opt/vellumo), written to build/deb/.
deb: release deps-test
	@sh tools/install/make-deb.sh build/release build/deb

build/test/build.ninja: CMakeLists.txt
	cmake -S . -B build/test $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=Debug -DVELLUMO_SANITIZE=ON \
		-DVELLUMO_FUZZ=ON -DVELLUMO_TESTS=ON

test: deps-test build/test/build.ninja
	cmake --build build/test -j $(JOBS)
	cd build/test && ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 \
		UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest -j $(JOBS) --output-on-failure --timeout 600

build/bench/build.ninja: CMakeLists.txt
	cmake -S . -B build/bench $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=Release -DVELLUMO_TESTS=OFF \
		-DVELLUMO_BENCH=ON

bench: deps-bench build/bench/build.ninja
	cmake --build build/bench -j $(JOBS)
	@./bench/run-all.sh build/bench

format:
	find . -path ./build -prune -o \( -name '*.cpp' -o -name '*.h' \) -print | xargs clang-format -i

clean:
	rm -rf build
