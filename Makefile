# The two commands a newcomer needs: `make demo` and `make test`.
BUILD := build
RELEASE := $(BUILD)/release
SANITIZE := $(BUILD)/sanitize
JOBS ?= $(shell nproc)
GENERATOR := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")

.PHONY: all demo test release clean

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
