# Block files from WAVE files and recordings in a GNU make build (make 4.3
# or later, for the grouped targets of a stereo pair). Set, then include
# this file:
#
#   SNDBLOK_SOURCES         mu-law WAVE files as sndblok takes them, ending
#                           in .wav; files that the build makes may be among them
#   SNDBLOK_ORIGINALS       recordings in any format sox reads, prepared into
#                           32 kHz mu-law WAVE files, their channels kept
#   SNDBLOK_MONO_ORIGINALS  the same, mixed down to mono
#   SNDBLOK_DESTINATION     the folder for the block files (default: sounds),
#                           which holds nothing else
#   SNDBLOK_MANIFEST        a C header listing the sounds (default: none)
#   SNDBLOK_STATE           where the build keeps what it needs (default:
#                           .sndblok/MAKEFILE beside the makefile)
#   SNDBLOK, SNDBLOK_SOX, SNDBLOK_CMAKE   the programs (sndblok, sox, cmake;
#                           cmake for originals and the manifest only)
#
# Names take no spaces nor any of ' " ` $ \ ; : & | < > * ? [ ] = % # ( ) ,
# (refused by name); an original's name has an extension. SNDBLOK_OUTPUTS
# then lists every block file, and the target sndblok-sounds makes them all.
# A sound's block files are named by its file's name less the extension:
# <stem>.vsf for mono, <stem>_l.vsf and <stem>_r.vsf for stereo. Which it
# makes depends on its channel count: make reads it from the file into a
# small rules file of its own, which it makes again, and reads again,
# whenever the file changes; as GNU make remakes what it includes before
# anything else, also for make -n and -q, which then make a source that the
# build makes, but remove nothing. A source that cannot be made, or read,
# fails the build with its name. The block files of a sound that left the
# lists, or that turned from stereo to mono, go. A good conversion prints
# nothing; a failing one fails the build with the source's name and what
# sndblok printed.

SNDBLOK ?= sndblok
SNDBLOK_SOX ?= sox
SNDBLOK_CMAKE ?= cmake
SNDBLOK_DESTINATION ?= sounds
# Each makefile its own, so that two in one folder keep apart.
sndblok_makefile := $(firstword $(MAKEFILE_LIST))
SNDBLOK_STATE ?= $(dir $(sndblok_makefile)).sndblok/$(notdir $(sndblok_makefile))
# Goals for which no sound is looked at, nor made.
SNDBLOK_CLEAN_GOALS ?= clean distclean mostlyclean
SNDBLOK_DESTINATION := $(patsubst %/,%,$(SNDBLOK_DESTINATION))
SNDBLOK_OUTPUTS :=
# The rules here are no one's default goal.
sndblok_goal := $(.DEFAULT_GOAL)
# Beside this file: the steps shared with the CMake package.
sndblok_here := $(dir $(lastword $(MAKEFILE_LIST)))
sndblok_convert_script := $(sndblok_here)sndblok-convert.sh
sndblok_steps := $(sndblok_here)sndblokSteps.cmake
sndblok_stage := $(SNDBLOK_STATE)/stage
sndblok_sounds :=
# Only dry runs, which remove nothing.
sndblok_dry := $(findstring n,$(firstword -$(MAKEFLAGS)))$(findstring q,$(firstword -$(MAKEFLAGS)))

# Names that the shell or make itself would take apart, or read as patterns.
sndblok_hash := \#
sndblok_open := (
sndblok_close := )
sndblok_comma := ,
sndblok_odd := ' " ` $$ \ ; : & | < > * ? [ ] = % $(sndblok_hash) $(sndblok_open) \
    $(sndblok_close) $(sndblok_comma)
sndblok_all := $(SNDBLOK_SOURCES) $(SNDBLOK_ORIGINALS) $(SNDBLOK_MONO_ORIGINALS)
# A name with a space has been taken apart into words, one of them without
# its extension.
sndblok_refused := $(filter-out %.wav,$(SNDBLOK_SOURCES)) \
    $(foreach name,$(SNDBLOK_ORIGINALS) $(SNDBLOK_MONO_ORIGINALS),$(if $(suffix $(name)),,$(name))) \
    $(foreach name,SNDBLOK_DESTINATION SNDBLOK_STATE SNDBLOK_MANIFEST,\
        $(if $(word 2,$($(name))),$(name)=$($(name)))) \
    $(foreach name,$(sndblok_all) $(SNDBLOK_DESTINATION) $(SNDBLOK_STATE) $(SNDBLOK_MANIFEST),\
        $(if $(strip $(foreach c,$(sndblok_odd),$(findstring $c,$(name)))),$(name)))
ifneq ($(strip $(sndblok_refused)),)
    $(error sndblok.mk takes names that end in .wav (originals: in an extension), without spaces or any of $(sndblok_odd); not: $(strip $(sndblok_refused)))
endif

# The links in the state lead to the sources and the destination by whole
# names: a state copied or moved with its folder starts again.
ifneq ($(file <$(SNDBLOK_STATE)/folder),$(CURDIR))
    $(shell rm -rf '$(SNDBLOK_STATE)' && mkdir -p '$(SNDBLOK_STATE)')
    $(file >$(SNDBLOK_STATE)/folder,$(CURDIR))
endif

# $(1): a name; its stem: the name less its folder and extension.
sndblok_stem = $(basename $(notdir $(1)))
# $(1): a stem, $(2): 1 or 2: its block files.
sndblok_files = $(if $(filter 2,$(2)),$(1)_l.vsf $(1)_r.vsf,$(1).vsf)

# $(1): a file: sets `channels` to its channel count, or fails naming it.
# A WAVE file sndblok takes has the count at offset 22; anything else is for
# sndblok to refuse, as a mono file. sox reads a recording's.
sndblok_channels_wave = case $$(od -An -tx1 -N24 < '$(1)' | tr -d ' \n') in \
    52494646????????57415645666d7420????????????0200) channels=2 ;; \
    *) channels=1 ;; \
    esac
sndblok_channels_sox = channels=$$($(SNDBLOK_SOX) --i -c '$(abspath $(1))'); \
    case $$channels in 1|2) ;; *) printf 'sndblok: %s has %s channels; list it under %s\n' \
        '$(1)' "$$channels" 'SNDBLOK_MONO_ORIGINALS to mix it down to mono' >&2; exit 1 ;; esac
sndblok_channels_mono = channels=1

# $(1): the file read, $(2): the input converted, $(3): how its channels
# are read (wave, sox or mono). Its rules file names its outputs and how
# they are made, and the links that sndblok writes through: its input's,
# beside which it writes its outputs; where they are on the destination's
# file system, they are moved into it, else each is written there under a
# temporary name, through a link, and renamed.
define sndblok_rules_of
$(SNDBLOK_STATE)/$(call sndblok_stem,$(1)).mk: $(1)
	@set -e; \
	if [ ! -f '$(1)' ]; then printf 'sndblok: %s is not a file\n' '$(1)' >&2; exit 1; fi; \
	$$(call sndblok_channels_$(3),$(1)); \
	stem='$(call sndblok_stem,$(1))'; stage='$(abspath $(sndblok_stage))'; \
	folder='$(abspath $(SNDBLOK_DESTINATION))'; rules='$(SNDBLOK_STATE)/.rules.'$$$$$$$$; \
	mkdir -p "$$$$stage" "$$$$folder"; \
	ln -sfn '$(abspath $(2))' "$$$$stage/$$$$stem.wav"; \
	: > "$$$$stage/.probe"; \
	if ln "$$$$stage/.probe" "$$$$folder/.sndblok-probe" 2> /dev/null; then one=1; else one=; fi; \
	rm -f "$$$$stage/.probe" "$$$$folder/.sndblok-probe"; \
	if [ $$$$channels = 2 ]; then files="$$$${stem}_r.vsf $$$${stem}_l.vsf"; else files=$$$$stem.vsf; fi; \
	pairs=; outputs=; \
	for f in $$$$files; do \
	    if [ -n "$$$$one" ]; then new=$$$$stage/$$$$f; rm -f "$$$$new"; \
	    else new=$$$$folder/.sndblok-$$$$(printf %s "$$$$stage/$$$$f" | cksum | cut -d' ' -f1); \
	        ln -sfn "$$$$new" "$$$$stage/$$$$f"; fi; \
	    pairs="$$$$pairs $$$$new $(SNDBLOK_DESTINATION)/$$$$f"; outputs="$(SNDBLOK_DESTINATION)/$$$$f $$$$outputs"; \
	done; \
	printf 'SNDBLOK_OUTPUTS += %s\nsndblok_sounds += %s:%s\n# made:%s\n%s&: %s $$$$(sndblok_convert_script)\n\t$$$$(call sndblok_convert,%s,%s,%s,%s)\n' \
	    "$$$$outputs" "$$$$stem" $$$$channels "$$$$pairs" "$$$$outputs" '$(2)' '$(2)' "$$$$stem" $$$$channels \
	    "$$$$pairs" > "$$$$rules"; \
	mv -f "$$$$rules" '$$@'
include $(SNDBLOK_STATE)/$(call sndblok_stem,$(1)).mk
endef

# $(1): an original, $(2): 1 to mix it down to mono: the WAVE file made of it.
define sndblok_prepare
$(SNDBLOK_STATE)/prepared/$(call sndblok_stem,$(1)).wav: $(1) $(sndblok_steps)
	@$(SNDBLOK_CMAKE) -DSTEP=prepare '-DSOX=$(SNDBLOK_SOX)' '-DORIGINAL=$(abspath $(1))' \
	    '-DPREPARED=$(abspath $(SNDBLOK_STATE)/prepared/$(call sndblok_stem,$(1)).wav)' \
	    -DCHANNELS=$(2) -P '$(sndblok_steps)'
endef

# $(1): the input, $(2): its stem, $(3): its channels, $(4): each output's
# new file and the output, the first output last. sndblok writes through the
# links that the rules file made, then each new file is renamed into place;
# when that fails, sndblok-convert.sh does it all again, carefully, and says
# what failed. The block files that the stem made with the other channel
# count go first, unless another source makes them; here, since make -n and
# -q run the rules files' recipes.
sndblok_moves = $(if $(1),&& mv -f '$(word 1,$(1))' '$(word 2,$(1))' 2> /dev/null \
    $(call sndblok_moves,$(wordlist 3,$(words $(1)),$(1))))
define sndblok_convert
@$(foreach stale,$(filter-out $(SNDBLOK_OUTPUTS),$(wildcard $(addprefix \
    $(SNDBLOK_DESTINATION)/,$(call sndblok_files,$(2),1) $(call sndblok_files,$(2),2)))),rm -f '$(stale)' && )\
test -f '$(1)' && $(SNDBLOK) '$(sndblok_stage)/$(2).wav' > '$(SNDBLOK_STATE)/$(2).log' 2>&1 \
$(call sndblok_moves,$(4)) || sh '$(sndblok_convert_script)' '$(SNDBLOK)' '$(1)' \
    '$(abspath $(sndblok_stage))/$(2).wav' $(3) $(4)
endef

ifneq ($(filter-out $(SNDBLOK_CLEAN_GOALS),$(or $(MAKECMDGOALS),all)),)
$(foreach source,$(SNDBLOK_SOURCES),$(eval $(call sndblok_rules_of,$(source),$(source),wave)))
$(foreach original,$(SNDBLOK_ORIGINALS),$(eval $(call sndblok_prepare,$(original),0))\
    $(eval $(call sndblok_rules_of,$(original),$(SNDBLOK_STATE)/prepared/$(call sndblok_stem,$(original)).wav,sox)))
$(foreach original,$(SNDBLOK_MONO_ORIGINALS),$(eval $(call sndblok_prepare,$(original),1))\
    $(eval $(call sndblok_rules_of,$(original),$(SNDBLOK_STATE)/prepared/$(call sndblok_stem,$(original)).wav,mono)))
endif

# A sound taken out of the lists leaves no block files, nor what an
# interrupted conversion of it left, unless make is only asked what it
# would do.
sndblok_stale := $(filter-out $(foreach source,$(sndblok_all),$(SNDBLOK_STATE)/$(call \
    sndblok_stem,$(source)).mk),$(wildcard $(SNDBLOK_STATE)/*.mk))
ifeq ($(sndblok_dry),)
    sndblok_removed := $(foreach rules,$(sndblok_stale),\
        $(shell rm -f $$(sed -n 's/^\(SNDBLOK_OUTPUTS += \|# made:\)//p' '$(rules)') '$(rules)'))
endif

sndblok_doubled := $(strip $(foreach output,$(sort $(SNDBLOK_OUTPUTS)),\
    $(if $(word 2,$(filter $(output),$(SNDBLOK_OUTPUTS))),$(output))))
ifneq ($(sndblok_doubled),)
    $(error sndblok.mk: more than one source makes $(sndblok_doubled))
endif

# The manifest, made by the same step as the CMake package's. It is
# rewritten only when it changes, so what includes it is not made again for
# nothing; until it changes, make runs the step whenever a block file is
# newer. The list of sounds is kept in a file that changes with it.
ifdef SNDBLOK_MANIFEST
sndblok_listed := $(subst :, ,$(sndblok_sounds))
ifneq ($(sndblok_listed),$(file <$(SNDBLOK_STATE)/sounds))
    $(file >$(SNDBLOK_STATE)/sounds,$(sndblok_listed))
endif
$(SNDBLOK_MANIFEST): $(SNDBLOK_OUTPUTS) $(SNDBLOK_STATE)/sounds $(sndblok_steps)
	@$(SNDBLOK_CMAKE) -DSTEP=manifest '-DHEADER=$(abspath $@)' \
	    '-DFOLDER=$(abspath $(SNDBLOK_DESTINATION))' '-DTITLE=$(SNDBLOK_DESTINATION)' -DEMBED=0 \
	    -P '$(sndblok_steps)' -- $(sndblok_listed)
endif

.PHONY: sndblok-sounds
sndblok-sounds: $(SNDBLOK_OUTPUTS) $(if $(SNDBLOK_MANIFEST),$(SNDBLOK_MANIFEST))

.DEFAULT_GOAL := $(sndblok_goal)
