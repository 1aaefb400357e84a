# Entry points for a newcomer:
#   make demo   build the program and stamp the bundled example
#   make test   build (optimised, and with AddressSanitizer + UBSan) and run every test
BUILD_DIR ?= build
ASAN_DIR  ?= build-asan
JOBS      ?= $(shell nproc 2>/dev/null || echo 2)

# Built into the program (it reads the installed mark images from there):
# `make install PREFIX=...` configures the build with it before installing.
PREFIX    ?= /usr/local
PACKAGE_DIR    ?= build-package
PACKAGE_PREFIX ?= /usr
DEMO_DIR  := $(BUILD_DIR)/demo
EXAMPLES  := $(CURDIR)/examples

FUZZ_DIR     ?= build-fuzz
FUZZ_SECONDS ?= 180
# Without libFuzzer's entropic schedule, whose bookkeeping took about 40% of
# the stamp target's time: runs of 20-30 s from the seeds ran 1.05-2.2x the
# inputs (stamp) and 1.15-1.25x (document) at the same coverage, in
# alternated pairs; by 60 s the gain was gone. `FUZZ_FLAGS=` brings it back.
FUZZ_FLAGS   ?= -entropic=0
FUZZ_TARGETS := parser document stamp content
FUZZ_JOBS    ?= $(JOBS)

BENCH_DATA ?= $(BUILD_DIR)/bench-data
BENCH_RUNS ?= 5
# `make bench BASELINE=<commit>` also times that commit's build, alternately.
BASELINE  ?=
BASELINE_DIR := build-baseline

# `make windows`: vellico.exe and a zip, cross-compiled with MinGW-w64.
WINDOWS_DIR       ?= build-windows
WINDOWS_TEST_DIR  ?= build-windows-tests
WINDOWS_UNIT_DIR  ?= build-windows-unit
WINDOWS_TOOLCHAIN := $(CURDIR)/cmake/mingw-w64-x86_64.cmake
# Debian has no MinGW builds of Nettle, libpng, libidn and HarfBuzz: scripts/mingw-*.sh
# build them static, once, into these prefixes (libpng finds Debian's MinGW zlib).
WINDOWS_LIBS       = $(CURDIR)/$(WINDOWS_DIR)/nettle;$(CURDIR)/$(WINDOWS_DIR)/libpng;$(CURDIR)/$(WINDOWS_DIR)/idn;$(CURDIR)/$(WINDOWS_DIR)/harfbuzz
WINDOWS_PKG_CONFIG = $(CURDIR)/$(WINDOWS_DIR)/nettle/lib/pkgconfig:$(CURDIR)/$(WINDOWS_DIR)/libpng/lib/pkgconfig:$(CURDIR)/$(WINDOWS_DIR)/idn/lib/pkgconfig:$(CURDIR)/$(WINDOWS_DIR)/harfbuzz/lib/pkgconfig:/usr/x86_64-w64-mingw32/lib/pkgconfig
# Wine now and then fails to start a program (no output, at once): such a
# test is run once more. A real fault fails both times.
WINE_REPEAT       ?= --repeat until-pass:2

.PHONY: all build program test test-tools test-release test-asan demo install package fuzz fuzz-build bench clean coverage \
        windows windows-tools test-windows test-windows-unit

all: build

build:
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=$(PREFIX)
	cmake --build $(BUILD_DIR) -j $(JOBS)

# The program alone, in the same build folder: what the demo runs, without the tests.
program:
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=$(PREFIX)
	cmake --build $(BUILD_DIR) -j $(JOBS) --target vellico

test: test-tools test-release test-asan

# The end-to-end tests check outputs with qpdf, pdftoppm and mutool: install
# them when missing and allowed to (root with apt-get); otherwise those checks
# skip, or fail where a second viewer's render is the point of the test.
test-tools:
	@missing=""; \
	command -v qpdf >/dev/null 2>&1 || missing="$$missing qpdf"; \
	command -v pdftoppm >/dev/null 2>&1 || missing="$$missing poppler-utils"; \
	command -v mutool >/dev/null 2>&1 || missing="$$missing mupdf-tools"; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1; then \
	    echo "Installing$$missing for the output checks"; \
	    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $$missing >/dev/null || \
	      { apt-get update -q >/dev/null && DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $$missing >/dev/null; }; \
	  else \
	    echo "Note:$$missing not installed: the checks that need them are skipped"; \
	  fi; \
	fi

test-release: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

test-asan:
	cmake -S . -B $(ASAN_DIR) -DCMAKE_BUILD_TYPE=Debug -DVELLICO_SANITIZE=ON
	cmake --build $(ASAN_DIR) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(ASAN_DIR) --output-on-failure -j $(JOBS)

# Line coverage of the product code by every test but the install and
# package ones, from one Debug build with --coverage (needs gcovr).
COVERAGE_DIR ?= build-coverage
# The product's folders, as the build adds them, so that a new room is counted too.
PRODUCT_FOLDERS := $(shell sed -n 's/^add_subdirectory(\(.*\))$$/\1/p' CMakeLists.txt | grep -vx bench | paste -sd '|')
# A header is read through the include root of every layer above it (links in
# $(COVERAGE_DIR)/layers/): mapped back to its own path, each line counts once.
COVERAGE_PATHS := $(foreach layer,$(subst |, ,$(PRODUCT_FOLDERS)),-ffile-prefix-map=$(abspath $(COVERAGE_DIR))/layers/$(layer)/=$(CURDIR)/)
coverage:
	cmake -S . -B $(COVERAGE_DIR) -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS="--coverage $(COVERAGE_PATHS)" \
	  -DCMAKE_EXE_LINKER_FLAGS=--coverage
	cmake --build $(COVERAGE_DIR) -j $(JOBS)
	find $(COVERAGE_DIR) -name '*.gcda' -delete
	ctest --test-dir $(COVERAGE_DIR) -j $(JOBS) -E '^(Install|Package)\.'
	gcovr -r . --object-directory $(COVERAGE_DIR) --filter '($(PRODUCT_FOLDERS))/' \
	  --json $(COVERAGE_DIR)/coverage.json --print-summary

# Stamps the bundled four-page sample twice: with the logo, and with crop
# marks (read from the current folder: this build's are not installed).
demo: program
	@rm -rf $(DEMO_DIR) && mkdir -p $(DEMO_DIR)
	@cp data/CropmarkHorizontal.jpg data/CropmarkVertical.jpg $(DEMO_DIR)/
	cd $(DEMO_DIR) && $(CURDIR)/$(BUILD_DIR)/vellico -i$(EXAMPLES)/sample.pdf -osample-stamped.pdf -j$(EXAMPLES)/logo.jpg
	cd $(DEMO_DIR) && $(CURDIR)/$(BUILD_DIR)/vellico -i$(EXAMPLES)/sample.pdf -osample-crop-marks.pdf -j$(EXAMPLES)/logo.jpg -crop_marks
	cd $(DEMO_DIR) && $(CURDIR)/$(BUILD_DIR)/vellico -i$(EXAMPLES)/sample.pdf -osample-numbered.pdf --text 'Page {page} of {pages}' -pos-1,20 -align center
	@echo
	@echo "Demo outputs:"
	@echo "  $(DEMO_DIR)/sample-stamped.pdf     the logo at 20,10 from the bottom left of every page"
	@echo "  $(DEMO_DIR)/sample-crop-marks.pdf  crop marks at the corners of every page's crop box"
	@echo "  $(DEMO_DIR)/sample-numbered.pdf    \"Page N of 4\" centred at the foot of every page"

# Runs each fuzz target for FUZZ_SECONDS (default 180) from the builder-made
# seeds and the corpus it grew before; findings land in fuzz/artifacts/.
fuzz-build:
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELLICO_FUZZ=ON
	cmake --build $(FUZZ_DIR) -j $(JOBS)
	@mkdir -p $(FUZZ_DIR)/seeds fuzz/artifacts
	$(FUZZ_DIR)/fuzz/make_seeds $(FUZZ_DIR)/seeds

# Each target is fuzzed by FUZZ_JOBS processes at once (one per core by
# default), which share what they find through the target's corpus folder;
# libFuzzer copies each one's log into the target's when it ends.
fuzz: fuzz-build
	@for t in $(FUZZ_TARGETS); do \
	  mkdir -p fuzz/corpus-$$t $(FUZZ_DIR)/jobs-$$t && rm -f $(FUZZ_DIR)/jobs-$$t/fuzz-*.log; \
	  echo "== fuzz_$$t for $(FUZZ_SECONDS) s (processes: $(FUZZ_JOBS))"; \
	  ( cd $(FUZZ_DIR)/jobs-$$t && $(abspath $(FUZZ_DIR))/fuzz/fuzz_$$t $(FUZZ_FLAGS) -jobs=$(FUZZ_JOBS) -workers=$(FUZZ_JOBS) \
	    -max_total_time=$(FUZZ_SECONDS) -timeout=10 -rss_limit_mb=2048 -artifact_prefix=$(CURDIR)/fuzz/artifacts/ \
	    -print_final_stats=1 $(CURDIR)/fuzz/corpus-$$t $(abspath $(FUZZ_DIR))/seeds ) > $(FUZZ_DIR)/fuzz_$$t.log 2>&1; status=$$?; \
	  grep -E '^(stat::peak_rss_mb|SUMMARY|==[0-9]+==ERROR)' $(FUZZ_DIR)/fuzz_$$t.log; \
	  grep -h '^stat::number_of_executed_units' $(FUZZ_DIR)/jobs-$$t/fuzz-*.log | \
	    awk -v s=$(FUZZ_SECONDS) '{ n += $$2 } END { printf "inputs run: %d, %d a second\n", n, n / s }'; \
	  grep -h 'DONE' $(FUZZ_DIR)/jobs-$$t/fuzz-*.log | grep -o 'cov: [0-9]*' | sort -t' ' -k2 -n | tail -n 1; \
	  if [ $$status -ne 0 ]; then echo "fuzz_$$t found a problem: see $(FUZZ_DIR)/fuzz_$$t.log and fuzz/artifacts/"; exit 1; fi; \
	done

# Times the program on generated inputs (written once to $(BENCH_DATA), about
# 200 MB) against `cp` and `cat`, and against mupdf's Python bindings when installed
# (Debian: python3-fitz).
bench: build
	cmake --build $(BUILD_DIR) --target make_bench_inputs measure
	@if [ ! -f $(BENCH_DATA)/batch-list.txt ]; then \
	  mkdir -p $(BENCH_DATA) && $(BUILD_DIR)/bench/make_bench_inputs $(BENCH_DATA) examples/logo.jpg; fi
	@if [ -n "$(BASELINE)" ]; then \
	  commit=$$(git rev-parse --short "$(BASELINE)") || exit 1; \
	  if [ ! -x $(BASELINE_DIR)/$$commit/build/vellico ]; then \
	    echo "Building $$commit as the baseline"; \
	    rm -rf $(BASELINE_DIR)/$$commit && mkdir -p $(BASELINE_DIR)/$$commit/src && \
	    git archive $$commit | tar -x -C $(BASELINE_DIR)/$$commit/src && \
	    cmake -S $(BASELINE_DIR)/$$commit/src -B $(BASELINE_DIR)/$$commit/build -DCMAKE_BUILD_TYPE=Release \
	      -DVELLICO_TESTS=OFF > /dev/null && \
	    cmake --build $(BASELINE_DIR)/$$commit/build -j $(JOBS) --target vellico > /dev/null || exit 1; \
	  fi; \
	  python3 bench/run.py $(BUILD_DIR)/vellico $(BENCH_DATA) examples/logo.jpg $(BENCH_RUNS) \
	    --baseline $(BASELINE_DIR)/$$commit/build/vellico; \
	else \
	  python3 bench/run.py $(BUILD_DIR)/vellico $(BENCH_DATA) examples/logo.jpg $(BENCH_RUNS); \
	fi

# Builds only what is installed. DESTDIR=... stages it elsewhere, as for a package.
install:
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=$(PREFIX)
	cmake --build $(BUILD_DIR) --target vellico -j $(JOBS)
	cmake --install $(BUILD_DIR)

# A Debian package (program, manual page, mark images, bash completion) for
# PACKAGE_PREFIX, built in a folder of its own.
package:
	cmake -S . -B $(PACKAGE_DIR) -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=$(PACKAGE_PREFIX) -DVELLICO_TESTS=OFF
	cmake --build $(PACKAGE_DIR) --target vellico -j $(JOBS)
	cd $(PACKAGE_DIR) && cpack -G DEB
	@echo "Package: $$(ls $(PACKAGE_DIR)/vellico_*.deb)"

# Installs what is missing for `make windows` (and, with WINE=1, for
# `make test-windows`) when allowed to (root with apt-get).
windows-tools:
	@missing=""; \
	command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1 || missing="$$missing g++-mingw-w64-x86-64"; \
	[ -f /usr/x86_64-w64-mingw32/lib/libz.a ] || missing="$$missing libz-mingw-w64-dev"; \
	command -v groff >/dev/null 2>&1 || missing="$$missing groff-base"; \
	command -v cpack >/dev/null 2>&1 || missing="$$missing cmake"; \
	if [ -n "$(WINE)" ]; then command -v wine >/dev/null 2>&1 || missing="$$missing wine wine64"; fi; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1; then \
	    echo "Installing$$missing"; \
	    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $$missing >/dev/null || \
	      { apt-get update -q >/dev/null && DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $$missing >/dev/null; }; \
	  else \
	    echo "Missing:$$missing (install them with apt-get)"; exit 1; \
	  fi; \
	fi

# One statically linked $(WINDOWS_DIR)/vellico.exe, and the zip beside it.
windows: windows-tools
	scripts/mingw-nettle.sh $(WINDOWS_DIR)/nettle
	scripts/mingw-libpng.sh $(WINDOWS_DIR)/libpng
	scripts/mingw-idn.sh $(WINDOWS_DIR)/idn
	scripts/mingw-harfbuzz.sh $(WINDOWS_DIR)/harfbuzz
	PKG_CONFIG_LIBDIR=$(WINDOWS_PKG_CONFIG) \
	  cmake -S . -B $(WINDOWS_DIR) -DCMAKE_TOOLCHAIN_FILE=$(WINDOWS_TOOLCHAIN) -DCMAKE_BUILD_TYPE=Release -DVELLICO_TESTS=OFF \
	  -DVELLICO_MINGW_LIBS="$(WINDOWS_LIBS)"
	cmake --build $(WINDOWS_DIR) -j $(JOBS)
	cd $(WINDOWS_DIR) && cpack -G ZIP
	@echo "Program: $(WINDOWS_DIR)/vellico.exe"
	@echo "Zip:     $$(ls $(WINDOWS_DIR)/vellico-*-windows.zip)"

# Runs the Windows program with Wine, in a scratch Wine prefix, from a test
# program built for this system.
test-windows: test-tools
	$(MAKE) windows WINE=1
	cmake --build $(WINDOWS_DIR) -j $(JOBS) --target hold_file
	cmake -S . -B $(WINDOWS_TEST_DIR) -DCMAKE_BUILD_TYPE=Release \
	  -DVELLICO_WINDOWS_EXE=$(CURDIR)/$(WINDOWS_DIR)/vellico.exe
	cmake --build $(WINDOWS_TEST_DIR) -j $(JOBS) --target windows_tests
	@# Made once before the tests run in parallel; its server is waited for afterwards.
	WINEDEBUG=-all WINEPREFIX=$(CURDIR)/$(WINDOWS_TEST_DIR)/wine-prefix wine $(WINDOWS_DIR)/vellico.exe >/dev/null 2>&1
	WINEDEBUG=-all WINEPREFIX=$(CURDIR)/$(WINDOWS_TEST_DIR)/wine-prefix \
	  ctest --test-dir $(WINDOWS_TEST_DIR) --output-on-failure -j $(JOBS) -L windows $(WINE_REPEAT); status=$$?; \
	  WINEPREFIX=$(CURDIR)/$(WINDOWS_TEST_DIR)/wine-prefix wineserver -w 2>/dev/null; exit $$status
	$(MAKE) test-windows-unit

# The unit tests of the pdf/, load/, text/ and stamp/ layers, built with MinGW-w64
# (GoogleTest from Debian's sources) and run with Wine, in the same prefix.
test-windows-unit: windows-tools
	@mkdir -p $(WINDOWS_TEST_DIR)
	scripts/mingw-nettle.sh $(WINDOWS_DIR)/nettle
	scripts/mingw-libpng.sh $(WINDOWS_DIR)/libpng
	scripts/mingw-idn.sh $(WINDOWS_DIR)/idn
	scripts/mingw-harfbuzz.sh $(WINDOWS_DIR)/harfbuzz
	PKG_CONFIG_LIBDIR=$(WINDOWS_PKG_CONFIG) \
	  cmake -S . -B $(WINDOWS_UNIT_DIR) -DCMAKE_TOOLCHAIN_FILE=$(WINDOWS_TOOLCHAIN) -DCMAKE_BUILD_TYPE=Release \
	  -DVELLICO_MINGW_LIBS="$(WINDOWS_LIBS)"
	cmake --build $(WINDOWS_UNIT_DIR) -j $(JOBS)
	WINEDEBUG=-all WINEPREFIX=$(CURDIR)/$(WINDOWS_TEST_DIR)/wine-prefix \
	  ctest --test-dir $(WINDOWS_UNIT_DIR) --output-on-failure -j $(JOBS) $(WINE_REPEAT); status=$$?; \
	  WINEPREFIX=$(CURDIR)/$(WINDOWS_TEST_DIR)/wine-prefix wineserver -w 2>/dev/null; exit $$status

clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR) $(BASELINE_DIR) $(PACKAGE_DIR) $(WINDOWS_DIR) $(WINDOWS_TEST_DIR) $(WINDOWS_UNIT_DIR)
