# The two commands of the README: `make run` and `make test`.
.PHONY: all deps build test run package asan tsan fuzz clean

all: build

deps:
	@scripts/install-deps

build: deps
	cmake --preset default >/dev/null
	cmake --build --preset default

test: build
	scripts/run-tests

run: build
	@if [ -x build/bin/mantleshade ]; then exec build/bin/mantleshade; \
	else echo "mantleshade: the application is not built yet"; fi

# A Debian package of the application in build/: install it with `apt install ./build/<file>.deb`.
package: build
	cmake --build --preset default --target package

asan: deps
	scripts/run-tests asan

tsan: deps
	scripts/run-tests tsan

fuzz: deps
	scripts/run-tests fuzz

clean:
	rm -rf build build-asan build-tsan build-fuzz
