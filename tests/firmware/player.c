/* Plays nothing: reads every sound back through the manifest, as a
   firmware's player finds them, and checks each against its block file in
   the folder given: its name, bytes, blocks and, where they are embedded,
   every byte. Prints what it checked; any difference fails it. */
#include <stdio.h>
#include <string.h>

#include "sounds.h"

static unsigned char file[1 << 20];

static int check(const struct sounds_file *sound, const char *folder) {
    char path[4096];
    FILE *in;
    size_t length;
    unsigned long blocks;
    snprintf(path, sizeof path, "%s/%s", folder, sound->name);
    in = fopen(path, "rb");
    if (in == NULL) return printf("%s: cannot open it\n", path), 0;
    length = fread(file, 1, sizeof file, in);
    fclose(in);
    blocks = (unsigned long)file[0] << 24 | (unsigned long)file[1] << 16 |
             (unsigned long)file[2] << 8 | file[3];
    if (length != sound->bytes || blocks != sound->blocks ||
        sound->bytes != (blocks ? blocks * 512 : 4) ||
        (sound->data != NULL && memcmp(sound->data, file, length) != 0)) {
        return printf("%s: %lu bytes and %lu blocks, not as listed\n", path,
                      (unsigned long)length, blocks), 0;
    }
    return 1;
}

int main(int argc, char **argv) {
    int i, checked = 0, embedded = 0;
    unsigned long longest = 0;
    if (argc != 2) return printf("usage: player FOLDER\n"), 2;
    for (i = 0; i < SOUNDS_COUNT; ++i) {
        const struct sounds_sound *sound = &sounds[i];
        if (!check(&sound->left, argv[1])) return 1;
        if (sound->stereo && !check(&sound->right, argv[1])) return 1;
        if (!sound->stereo && sound->right.name != NULL) return printf("%s\n", sound->name), 1;
        checked += 1 + sound->stereo;
        embedded += (sound->left.data != NULL) + (sound->right.data != NULL);
        if (sound->left.blocks > longest) longest = sound->left.blocks;
    }
    if (SOUNDS_COUNT > 0 && (longest != SOUNDS_MOST_BLOCKS ||
                             sounds[SOUNDS_LONGEST].left.blocks != longest)) {
        return printf("the longest is not as listed\n"), 1;
    }
    printf("%d sounds, %d block files, %d embedded, as listed\n", SOUNDS_COUNT, checked,
           embedded);
    return 0;
}
