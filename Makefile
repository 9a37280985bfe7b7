# The two commands of the README:
#   make demo   build the distribution and run Setup.exe on a sample distribution
#   make test   run every test
.PHONY: deps release build-test test demo bench clean

deps:
	@scripts/install-deps.sh

release: deps
	cmake --preset release >/dev/null
	cmake --build --preset release -j2

build-test: deps
	cmake --preset test >/dev/null
	cmake --build --preset test -j2
	cmake --preset test32 >/dev/null
	cmake --build --preset test32 -j2

test: release build-test
	scripts/run-tests.sh

demo: release build-test
	demo/run-demo.sh

bench: release build-test
	bench/run.sh

clean:
	rm -rf build
