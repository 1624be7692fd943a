/*
 * The GIMP 2.10 plug-in: the procedure plug-in-lq2x, which scales the active
 * layer, or every layer (frames of an animation), with the library's picture
 * entry. A door: GIMP's pixels go in and out as they are stored, and every
 * value, check and refusal is the library's (named as the procedure's
 * parameters, LQ2X_DOOR_GIMP). What the plug-in decides itself is GIMP's
 * side alone: which layers, where they lie, and the canvas.
 */
#include <stdint.h>
#include <string.h>

#include <libgimp/gimp.h>
#include <libgimp/gimpui.h>

#include <lq2x/lq2x.h>

#define PROCEDURE "plug-in-lq2x"
#define BINARY "lq2x"
#define MESSAGE_BYTES 320

/* The procedure's parameters after run-mode, image and drawable, in order;
 * kept between runs (gimp_set_data) so the dialog opens on the last ones. */
typedef struct settings {
    gint32 scale, turn, edge_x, edge_y, tile_width, tile_height, tile_margin, tile_spacing, all_layers;
} settings;

static const settings DEFAULTS = {2, 0, 0, 0, 0, 0, 0, 0, 1};

static void query(void);
static void run(const gchar* name, gint n_params, const GimpParam* params, gint* n_return_vals,
                GimpParam** return_vals);

const GimpPlugInInfo PLUG_IN_INFO = {NULL, NULL, query, run};

MAIN()

static void query(void)
{
    static const GimpParamDef args[] = {
        {GIMP_PDB_INT32, "run-mode", "The run mode { RUN-INTERACTIVE (0), RUN-NONINTERACTIVE (1) }"},
        {GIMP_PDB_IMAGE, "image", "Input image"},
        {GIMP_PDB_DRAWABLE, "drawable", "The layer to scale (its image's active layer when all-layers is 0)"},
        {GIMP_PDB_INT32, "scale", "2, 4 or 8"},
        {GIMP_PDB_INT32, "turn", "A quarter-turn with the scaling: 0 none, 1 counter-clockwise, 2 clockwise"},
        {GIMP_PDB_INT32, "edge-x", "What the left and right borders see beyond: 0 clamp, 1 wrap, 2 transparent"},
        {GIMP_PDB_INT32, "edge-y", "What the top and bottom borders see beyond: 0 clamp, 1 wrap, 2 transparent"},
        {GIMP_PDB_INT32, "tile-width", "A tile grid's cell width in pixels (0 with tile-height 0: no grid)"},
        {GIMP_PDB_INT32, "tile-height", "A tile grid's cell height in pixels"},
        {GIMP_PDB_INT32, "tile-margin", "Pixels before the first cell, from the left and the top"},
        {GIMP_PDB_INT32, "tile-spacing", "Pixels between cells"},
        {GIMP_PDB_INT32, "all-layers",
         "1: every layer, offsets and canvas (an animation's frames); 0: the drawable alone, its top-left kept"},
    };
    gimp_install_procedure(PROCEDURE, "Scale pixel art 2x, 4x or 8x with the LQ2x rule",
                           "Scales a layer, or every layer with their offsets and the canvas, with the lq2x "
                           "library: exactly the pixels the lq2x tool writes for the same picture and options. "
                           "Indexed images are made RGB first, as lq2x reads palette files; 8-bit precision only.",
                           "lq2x developers", "lq2x developers", LQ2X_VERSION_STRING, "_LQ2x...",
                           "RGB*, GRAY*, INDEXED*", GIMP_PLUGIN, G_N_ELEMENTS(args), 0, args, NULL);
    gimp_plugin_menu_register(PROCEDURE, "<Image>/Image/Scale");
}

/* ---- the dialog ---- */

static GtkWidget* combo(GtkWidget* table, int row, const char* label, gint32* value, const char* first,
                        gint first_value, ...)
{
    va_list more;
    va_start(more, first_value);
    GtkWidget* box = gimp_int_combo_box_new_valist(first, first_value, more);
    va_end(more);
    gimp_int_combo_box_connect(GIMP_INT_COMBO_BOX(box), *value, G_CALLBACK(gimp_int_combo_box_get_active), value);
    gimp_table_attach_aligned(GTK_TABLE(table), 0, row, label, 0.0, 0.5, box, 1, FALSE);
    return box;
}

static void spin(GtkWidget* table, int row, const char* label, gint32* value)
{
    GtkObject* adjustment = gtk_adjustment_new(*value, 0, 65536, 1, 8, 0);
    GtkWidget* button = gtk_spin_button_new(GTK_ADJUSTMENT(adjustment), 1, 0);
    gtk_spin_button_set_numeric(GTK_SPIN_BUTTON(button), TRUE);
    g_signal_connect(adjustment, "value-changed", G_CALLBACK(gimp_int_adjustment_update), value);
    gimp_table_attach_aligned(GTK_TABLE(table), 0, row, label, 0.0, 0.5, button, 1, TRUE);
}

/* TRUE when the person chose Scale; Cancel leaves everything as it was. */
static gboolean dialog(settings* s)
{
    gimp_ui_init(BINARY, FALSE);
    GtkWidget* d = gimp_dialog_new("LQ2x", BINARY, NULL, 0, gimp_standard_help_func, PROCEDURE, "_Cancel",
                                   GTK_RESPONSE_CANCEL, "_Scale", GTK_RESPONSE_OK, NULL);
    gimp_window_set_transient(GTK_WINDOW(d));
    GtkWidget* table = gtk_table_new(10, 2, FALSE);
    gtk_table_set_col_spacings(GTK_TABLE(table), 6);
    gtk_table_set_row_spacings(GTK_TABLE(table), 4);
    gtk_container_set_border_width(GTK_CONTAINER(table), 12);
    gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(d))), table, TRUE, TRUE, 0);
    combo(table, 0, "Scale:", &s->scale, "2x", 2, "4x", 4, "8x", 8, NULL);
    combo(table, 1, "Turn:", &s->turn, "None", 0, "Counter-clockwise", 1, "Clockwise", 2, NULL);
    combo(table, 2, "Left and right edges:", &s->edge_x, "Clamp", 0, "Wrap", 1, "Transparent", 2, NULL);
    combo(table, 3, "Top and bottom edges:", &s->edge_y, "Clamp", 0, "Wrap", 1, "Transparent", 2, NULL);
    spin(table, 4, "Tile width:", &s->tile_width);
    spin(table, 5, "Tile height:", &s->tile_height);
    spin(table, 6, "Tile margin:", &s->tile_margin);
    spin(table, 7, "Tile spacing:", &s->tile_spacing);
    GtkWidget* all = gtk_check_button_new_with_mnemonic("_All layers (frames), their offsets and the canvas");
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(all), s->all_layers != 0);
    g_signal_connect(all, "toggled", G_CALLBACK(gimp_toggle_button_update), &s->all_layers);
    gtk_table_attach(GTK_TABLE(table), all, 0, 2, 8, 9, GTK_FILL, GTK_FILL, 0, 0);
    gtk_widget_show_all(d);
    const gboolean chosen = gimp_dialog_run(GIMP_DIALOG(d)) == GTK_RESPONSE_OK;
    gtk_widget_destroy(d);
    return chosen;
}

/* ---- the layers ---- */

/* The layers to scale: `drawable` alone, or every layer of the image,
 * those inside groups included (a group follows its layers). */
static void add_layers(GArray* layers, const gint32* items, gint n)
{
    for (gint i = 0; i < n; i++) {
        if (gimp_item_is_group(items[i])) {
            gint children = 0;
            gint32* inside = gimp_item_get_children(items[i], &children);
            add_layers(layers, inside, children);
            g_free(inside);
        } else {
            g_array_append_val(layers, items[i]);
        }
    }
}

/* The library's layout for a layer of GIMP's (RGB or grey, alpha or none). */
static int32_t layout_of(gint32 layer)
{
    const gboolean alpha = gimp_drawable_has_alpha(layer);
    if (gimp_drawable_is_gray(layer))
        return alpha ? LQ2X_LAYOUT_GREY_ALPHA : LQ2X_LAYOUT_GREY;
    return alpha ? LQ2X_LAYOUT_RGBA : LQ2X_LAYOUT_RGB;
}

static int channels(int32_t layout)
{
    return layout == LQ2X_LAYOUT_GREY ? 1 : layout == LQ2X_LAYOUT_GREY_ALPHA ? 2 : layout == LQ2X_LAYOUT_RGB ? 3 : 4;
}

/* Where a layer's top-left goes in the scaled image: its offsets times the
 * scale, and under a quarter-turn the corner that the turn brings to the
 * top-left. Counter-clockwise, image pixel (x, y) of a W x H canvas goes to
 * column y, row W-1-x, so a w x h layer at (ox, oy) lands at (oy, W-ox-w);
 * clockwise, (x, y) goes to (H-1-y, x) and the layer to (H-oy-h, ox). */
static void scaled_offsets(const settings* s, gint canvas_w, gint canvas_h, gint w, gint h, gint* ox, gint* oy)
{
    const gint x = *ox, y = *oy;
    switch (s->turn) {
    case LQ2X_CCW: *ox = y, *oy = canvas_w - x - w; break;
    case LQ2X_CW: *ox = canvas_h - y - h, *oy = x; break;
    default: break;
    }
    *ox *= s->scale, *oy *= s->scale;
}

static lq2x_options options_of(const settings* s)
{
    lq2x_options o = lq2x_default_options();
    o.scale = s->scale;
    o.orientation = s->turn;
    o.edge_x = s->edge_x;
    o.edge_y = s->edge_y;
    o.tile_width = s->tile_width;
    o.tile_height = s->tile_height;
    o.tile_margin = s->tile_margin;
    o.tile_spacing = s->tile_spacing;
    o.threads = 0; /* every core: the bands give the same bits */
    return o;
}

/* Whether a layer can be scaled, before anything is changed: NULL, or why
 * not (g_free it). The library checks the settings and the size against its
 * pixel limit; GIMP's own limits are GIMP's. */
static gchar* refusal(gint32 layer, const lq2x_options* o)
{
    gchar* name = gimp_item_get_name(layer);
    gchar* why = NULL;
    char message[MESSAGE_BYTES];
    int32_t w = 0, h = 0;
    if (gimp_layer_get_mask(layer) != -1)
        why = g_strdup_printf("layer '%s' has a layer mask: apply or delete it first (Layer > Mask)", name);
    else if (lq2x_picture_check(gimp_drawable_width(layer), gimp_drawable_height(layer), o, LQ2X_DOOR_GIMP, message,
                                sizeof message) != LQ2X_OK)
        why = g_strdup_printf("layer '%s': %s", name, message);
    else if (lq2x_picture_size(gimp_drawable_width(layer), gimp_drawable_height(layer), o, &w, &h) == LQ2X_OK &&
             (w > GIMP_MAX_IMAGE_SIZE || h > GIMP_MAX_IMAGE_SIZE))
        why = g_strdup_printf("layer '%s': its result, %d x %d, is larger than GIMP's largest side, %d", name, w, h,
                              GIMP_MAX_IMAGE_SIZE);
    g_free(name);
    return why;
}

/* Scales one layer in place: GIMP's pixels as stored, the library's
 * result, the layer resized to it (gaining alpha where the library's
 * layout does). NULL, or why not. */
static gchar* scale_layer(gint32 layer, const lq2x_options* o)
{
    const gint w = gimp_drawable_width(layer), h = gimp_drawable_height(layer);
    const int32_t in_layout = layout_of(layer);
    int32_t out_layout = 0, out_w = 0, out_h = 0;
    lq2x_status status = lq2x_picture_layout(in_layout, o, &out_layout);
    if (status == LQ2X_OK)
        status = lq2x_picture_size(w, h, o, &out_w, &out_h);
    if (status != LQ2X_OK)
        return g_strdup(lq2x_describe(status));
    const gsize in_pitch = (gsize)w * channels(in_layout), out_pitch = (gsize)out_w * channels(out_layout);
    guchar* in = g_try_malloc((gsize)h * in_pitch + 1);
    guchar* out = g_try_malloc((gsize)out_h * out_pitch + 1);
    if (in == NULL || out == NULL) {
        g_free(in);
        g_free(out);
        return g_strdup(lq2x_describe(LQ2X_ERROR_NO_MEMORY));
    }
    GeglBuffer* buffer = gimp_drawable_get_buffer(layer);
    gegl_buffer_get(buffer, GEGL_RECTANGLE(0, 0, w, h), 1.0, gimp_drawable_get_format(layer), in, in_pitch,
                    GEGL_ABYSS_NONE);
    g_object_unref(buffer);
    const lq2x_picture src = {in, w, h, (ptrdiff_t)in_pitch, in_layout};
    const lq2x_picture dst = {out, out_w, out_h, (ptrdiff_t)out_pitch, out_layout};
    status = lq2x_scale_picture(&src, &dst, o);
    g_free(in);
    if (status == LQ2X_OK) {
        if (out_layout != in_layout)
            gimp_layer_add_alpha(layer);
        gimp_layer_resize(layer, out_w, out_h, 0, 0);
        buffer = gimp_drawable_get_buffer(layer);
        gegl_buffer_set(buffer, GEGL_RECTANGLE(0, 0, out_w, out_h), 0, gimp_drawable_get_format(layer), out, out_pitch);
        g_object_unref(buffer);
        gimp_drawable_update(layer, 0, 0, out_w, out_h);
    }
    g_free(out);
    return status == LQ2X_OK ? NULL : g_strdup(lq2x_describe(status));
}

/* Scales the image's layers as `s` says: NULL, or why nothing was done. */
static gchar* scale_image(gint32 image, gint32 drawable, const settings* s)
{
    const GimpPrecision precision = gimp_image_get_precision(image);
    if (precision != GIMP_PRECISION_U8_GAMMA && precision != GIMP_PRECISION_U8_LINEAR)
        return g_strdup("the image is of more than 8 bits a channel, and the library scales 8-bit pixels: "
                        "Image > Precision > 8 bit integer first");
    const lq2x_options o = options_of(s);
    GArray* layers = g_array_new(FALSE, FALSE, sizeof(gint32));
    if (s->all_layers) {
        gint n = 0;
        gint32* top = gimp_image_get_layers(image, &n);
        add_layers(layers, top, n);
        g_free(top);
    } else if (!gimp_item_is_layer(drawable) || gimp_item_is_group(drawable)) {
        g_array_free(layers, TRUE);
        return g_strdup("the drawable is no layer of pixels (a layer group, a mask or a channel): choose a layer, "
                        "or all-layers");
    } else {
        g_array_append_val(layers, drawable);
    }
    /* Everything checked before anything changes, so a refusal leaves the image as it was. */
    for (guint i = 0; i < layers->len; i++) {
        gchar* why = refusal(g_array_index(layers, gint32, i), &o);
        if (why != NULL) {
            g_array_free(layers, TRUE);
            return why;
        }
    }
    gint32 canvas_w = 0, canvas_h = 0;
    if (s->all_layers &&
        lq2x_picture_size(gimp_image_width(image), gimp_image_height(image), &o, &canvas_w, &canvas_h) == LQ2X_OK &&
        (canvas_w > GIMP_MAX_IMAGE_SIZE || canvas_h > GIMP_MAX_IMAGE_SIZE)) {
        g_array_free(layers, TRUE);
        return g_strdup_printf("the canvas would be %d x %d, larger than GIMP's largest side, %d", canvas_w, canvas_h,
                               GIMP_MAX_IMAGE_SIZE);
    }

    gimp_image_undo_group_start(image);
    if (gimp_image_base_type(image) == GIMP_INDEXED) {
        /* As lq2x reads a palette file: the colours themselves, RGB, with
         * alpha where the layer has it (a PNG's tRNS). */
        gimp_image_convert_rgb(image);
        gimp_message("LQ2x: the indexed image is now RGB (RGBA where a layer has alpha), as lq2x reads palette files");
    }
    const gint old_w = gimp_image_width(image), old_h = gimp_image_height(image);
    if (s->all_layers)
        gimp_image_resize(image, canvas_w, canvas_h, 0, 0);
    gimp_progress_init("LQ2x");
    gchar* why = NULL;
    for (guint i = 0; i < layers->len && why == NULL; i++) {
        const gint32 layer = g_array_index(layers, gint32, i);
        gint ox = 0, oy = 0;
        gimp_drawable_offsets(layer, &ox, &oy);
        const gint w = gimp_drawable_width(layer), h = gimp_drawable_height(layer);
        why = scale_layer(layer, &o);
        if (why == NULL && s->all_layers) {
            scaled_offsets(s, old_w, old_h, w, h, &ox, &oy);
            gimp_layer_set_offsets(layer, ox, oy);
        }
        gimp_progress_update((gdouble)(i + 1) / layers->len);
    }
    gimp_progress_end();
    gimp_image_undo_group_end(image);
    g_array_free(layers, TRUE);
    return why;
}

static void run(const gchar* name, gint n_params, const GimpParam* params, gint* n_return_vals, GimpParam** return_vals)
{
    static GimpParam values[2];
    (void)name;
    gegl_init(NULL, NULL);
    *n_return_vals = 1;
    *return_vals = values;
    values[0].type = GIMP_PDB_STATUS;
    values[0].data.d_status = GIMP_PDB_SUCCESS;

    const GimpRunMode mode = params[0].data.d_int32;
    const gint32 image = params[1].data.d_image, drawable = params[2].data.d_drawable;
    settings s = DEFAULTS;
    gimp_get_data(PROCEDURE, &s);
    if (mode == GIMP_RUN_NONINTERACTIVE) {
        if (n_params != 12) {
            values[0].data.d_status = GIMP_PDB_CALLING_ERROR;
            return;
        }
        gint32* fields[] = {&s.scale,       &s.turn,        &s.edge_x,       &s.edge_y,    &s.tile_width,
                            &s.tile_height, &s.tile_margin, &s.tile_spacing, &s.all_layers};
        for (int i = 0; i < 9; i++)
            *fields[i] = params[3 + i].data.d_int32;
    } else if (mode == GIMP_RUN_INTERACTIVE && !dialog(&s)) {
        values[0].data.d_status = GIMP_PDB_CANCEL;
        return;
    }
    gchar* why = scale_image(image, drawable, &s);
    if (why != NULL) {
        /* Shown by GIMP as the procedure's error: in its message, or by the
         * batch caller that called it. */
        static gchar* error = NULL;
        g_free(error);
        error = g_strconcat("LQ2x: ", why, NULL);
        g_free(why);
        values[0].data.d_status = GIMP_PDB_EXECUTION_ERROR;
        values[1].type = GIMP_PDB_STRING;
        values[1].data.d_string = error;
        *n_return_vals = 2;
        return;
    }
    if (mode == GIMP_RUN_INTERACTIVE)
        gimp_set_data(PROCEDURE, &s, sizeof s);
    if (mode != GIMP_RUN_NONINTERACTIVE)
        gimp_displays_flush();
}
