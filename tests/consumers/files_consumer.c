/* A C99 program outside the project that scales a file in memory through
 * the files library, and prints the result's size: a 2 x 1 PPM becomes a
 * 4 x 2 one of 11 + 24 bytes. */
#include <stdio.h>

#include <lq2x/lq2x_files.h>

int main(void)
{
    static const uint8_t ppm[] = {'P', '6', '\n', '2', ' ', '1', '\n', '2', '5', '5', '\n', 1, 2, 3, 4, 5, 6};
    lq2x_file out;
    const lq2x_status s = lq2x_scale_file(ppm, sizeof ppm, NULL, NULL, &out);
    if (s != LQ2X_OK) {
        fprintf(stderr, "lq2x_scale_file: %s\n", out.message);
        return 1;
    }
    printf("%lu\n", (unsigned long)out.size);
    lq2x_file_free(&out);
    return 0;
}
