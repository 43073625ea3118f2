# Block files from WAVE files in a GNU make build (make 4.3 or later, for
# the grouped targets of a stereo pair). Set, then include this file:
#
#   SNDBLOK_SOURCES      the WAVE files: names that end in .wav, without
#                        spaces or any of ' " ` $ \ ; : & | < > * ? [ ] = % # ( ) ,
#                        (refused by name); files that the build makes
#                        itself may be among them
#   SNDBLOK_DESTINATION  the folder for the block files (default: sounds)
#   SNDBLOK              the program (default: sndblok)
#
# SNDBLOK_OUTPUTS then lists every block file, and the target sndblok-sounds
# makes them all. Which files a source makes depends on its channel count:
# make reads it from the source into a small rules file of its own, which it
# makes again, and reads again, whenever the source changes; as GNU make
# remakes what it includes before anything else, also for make -n and -q,
# which then make a source that the build makes, but remove nothing. A source
# that cannot be made, or read, fails the build with its name. Outputs that a
# source no longer makes (it turned from stereo to mono) go when it is
# converted again. A good conversion prints nothing; a failing one fails the
# build with the source's name and what sndblok printed.

SNDBLOK ?= sndblok
SNDBLOK_DESTINATION ?= sounds
# Goals for which no sound is looked at, nor made.
SNDBLOK_CLEAN_GOALS ?= clean distclean mostlyclean
SNDBLOK_DESTINATION := $(patsubst %/,%,$(SNDBLOK_DESTINATION))
SNDBLOK_OUTPUTS :=
# The rules here are no one's default goal.
sndblok_goal := $(.DEFAULT_GOAL)
# What the build keeps beside the block files: a rules file a source, and
# a folder a conversion.
sndblok_stage := $(SNDBLOK_DESTINATION)/.sndblok

# Names that the shell or make itself would take apart, or read as patterns.
sndblok_hash := \#
sndblok_open := (
sndblok_close := )
sndblok_comma := ,
sndblok_odd := ' " ` $$ \ ; : & | < > * ? [ ] = % $(sndblok_hash) $(sndblok_open) \
    $(sndblok_close) $(sndblok_comma)
sndblok_refused := $(filter-out %.wav,$(SNDBLOK_SOURCES)) $(foreach source,$(SNDBLOK_SOURCES),\
    $(if $(strip $(foreach c,$(sndblok_odd),$(findstring $c,$(source)))),$(source)))
ifneq ($(strip $(sndblok_refused)),)
    $(error sndblok.mk takes names that end in .wav, without spaces or any of $(sndblok_odd); not: $(strip $(sndblok_refused)))
endif

# $(1): the source. Its rules file names its outputs and how they are made.
# An accepted file has its format chunk right after the RIFF header, so the
# channel count stands at offset 22; anything else is for sndblok itself to
# refuse, as a mono file would be.
define sndblok_rules_of
$(sndblok_stage)/$(notdir $(1:.wav=.mk)): $(1)
	@set -e; mkdir -p '$$(@D)'; stem='$(SNDBLOK_DESTINATION)/$(notdir $(1:.wav=))'; \
	case $$$$(od -An -tx1 -N24 '$(1)' | tr -d ' \n') in \
	    52494646????????57415645666d7420????????????0200) outputs="$$$${stem}_l.vsf $$$${stem}_r.vsf" ;; \
	    *) outputs="$$$$stem.vsf" ;; \
	esac; \
	printf 'SNDBLOK_OUTPUTS += %s\n%s &: %s\n\t$$$$(call sndblok_convert,%s,%s)\n' \
	    "$$$$outputs" "$$$$outputs" '$(1)' '$(1)' "$$$$outputs" > '$$@'
include $(sndblok_stage)/$(notdir $(1:.wav=.mk))
endef

# $(1): the source, $(2): its outputs. Converted beside a link to the source,
# in a folder of this conversion's own, then moved into place whole. What the
# source made when it had the other channel count goes first, unless another
# source makes it; here, since make -n and -q run the rules files' recipes.
define sndblok_convert
@set -e; name='$(notdir $(1))'; work='$(sndblok_stage)/run.'$$$$; \
rm -f $(foreach stale,$(filter-out $(SNDBLOK_OUTPUTS),$(addprefix \
    $(SNDBLOK_DESTINATION)/$(notdir $(1:.wav=)),_l.vsf _r.vsf .vsf)),'$(stale)'); \
rm -rf "$$work"; mkdir -p "$$work"; \
ln -s "$$(cd '$(dir $(1))' && pwd)/$$name" "$$work/$$name"; \
if printed=$$(cd "$$work" && $(SNDBLOK) "$$name" 2>&1); then status=0; else status=$$?; fi; \
if [ $$status -ne 0 ]; then \
    rm -rf "$$work"; \
    printf 'sndblok cannot convert %s:\n%s\n' '$(1)' "$$(printf '%s\n' "$$printed" | sed -e '/^====/,$$d' -e '/^$$/d')" >&2; \
    exit 1; \
fi; \
mv $(addprefix "$$work"/,$(notdir $(2))) '$(SNDBLOK_DESTINATION)/'; \
rm -rf "$$work"
endef

ifneq ($(filter-out $(SNDBLOK_CLEAN_GOALS),$(or $(MAKECMDGOALS),all)),)
$(foreach source,$(SNDBLOK_SOURCES),$(eval $(call sndblok_rules_of,$(source))))
endif

# A source taken out of the list leaves no block files, unless make is only
# asked what it would do.
sndblok_stale := $(filter-out $(foreach source,$(SNDBLOK_SOURCES),$(sndblok_stage)/$(notdir \
    $(source:.wav=.mk))),$(wildcard $(sndblok_stage)/*.mk))
ifeq ($(findstring n,$(firstword -$(MAKEFLAGS)))$(findstring q,$(firstword -$(MAKEFLAGS))),)
    sndblok_removed := $(foreach rules,$(sndblok_stale),\
        $(shell rm -f $$(sed -n 's/^SNDBLOK_OUTPUTS += //p' '$(rules)') '$(rules)'))
endif

sndblok_doubled := $(strip $(foreach output,$(sort $(SNDBLOK_OUTPUTS)),\
    $(if $(word 2,$(filter $(output),$(SNDBLOK_OUTPUTS))),$(output))))
ifneq ($(sndblok_doubled),)
    $(error sndblok.mk: more than one source makes $(sndblok_doubled))
endif

.PHONY: sndblok-sounds
sndblok-sounds: $(SNDBLOK_OUTPUTS)

.DEFAULT_GOAL := $(sndblok_goal)
