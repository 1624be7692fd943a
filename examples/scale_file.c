/*
 * The files library's C interface: an image file read, scaled and written
 * in memory, every call's status checked and the library's own words
 * printed when one fails. Valid C99.
 *
 *     scale_file INPUT OUTPUT [SCALE]
 *
 * OUTPUT's extension says the format written (.png, .gif, .webp, .ppm, .pgm,
 * .pam, .pnm, .raw; none: the input's own). lq2x_scale_path does all three
 * steps on disk in one call, and puts the output in place whole or not at
 * all; here they are one by one.
 */
#include <stdio.h>

#include <lq2x/lq2x_files.h>

int main(int argc, char** argv)
{
    if (argc < 3 || argc > 4) {
        fprintf(stderr, "usage: scale_file INPUT OUTPUT [SCALE]\n");
        return 2;
    }
    const char* input_name = argv[1];
    const char* output_name = argv[2];

    /* Settings from text, as a person gives them: a value the library
     * refuses comes back with why ("scale: wants 2, 4 or 8, not 3"). */
    lq2x_options options = lq2x_default_options();
    char why[320];
    if (argc == 4 && lq2x_set_option(&options, "scale", argv[3], LQ2X_DOOR_C, why, sizeof why) != LQ2X_OK) {
        fprintf(stderr, "scale_file: %s\n", why);
        return 2;
    }
    lq2x_file_options file_options = lq2x_default_file_options();
    file_options.format = lq2x_format_of_name(output_name);

    /* The input's bytes, read no further than the limits the scaling will
     * hold them to (a file that is no image is refused from its first bytes). */
    lq2x_file input;
    if (lq2x_read_input(input_name, &options, &file_options, &input) != LQ2X_OK) {
        fprintf(stderr, "scale_file: %s: %s\n", input_name, input.message);
        lq2x_file_free(&input);
        return 1;
    }

    /* Read, scaled and written as the output format, all in memory. */
    lq2x_file output;
    const lq2x_status status = lq2x_scale_file(input.bytes, input.size, &options, &file_options, &output);
    lq2x_file_free(&input);
    if (status != LQ2X_OK) {
        fprintf(stderr, "scale_file: %s: %s\n", input_name, output.message);
        lq2x_file_free(&output);
        return 1;
    }
    /* Made, but something could not be kept (a delay the format cannot hold). */
    if (output.message[0] != '\0')
        fprintf(stderr, "scale_file: %s: warning: %s\n", input_name, output.message);

    FILE* file = fopen(output_name, "wb");
    int written = file != NULL && fwrite(output.bytes, 1, output.size, file) == output.size;
    if (file != NULL && fclose(file) != 0)
        written = 0;
    lq2x_file_free(&output);
    if (!written) {
        perror(output_name);
        return 1;
    }
    return 0;
}
