# make demo: set up, build, and show a cleaning run in a throw-away Windows 7 prefix.
# make test: set up, build, and run every test under Wine.
.PHONY: all build test demo clean

all: build

build:
	@scripts/build.sh

test: build
	cd build/test && ctest --output-on-failure -j 2

demo: build
	@python3 scripts/demo.py

clean:
	rm -rf build
