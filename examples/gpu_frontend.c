/*
 * What a front end does to run the lq2x shaders in its own OpenGL ES 3 (or
 * WebGL 2, or desktop GL 3.3) context: an RGBA picture scaled 4x and turned
 * a quarter-turn counter-clockwise, in the passes the library plans
 * (lq2x_pass_options), read back and compared with the library's
 * lq2x_scale_picture. Here a headless EGL context stands in for the front
 * end's own.
 *
 *     gpu_frontend <folder with lq2x.frag and lq2x.vert>    (share/lq2x/shaders once installed)
 */
#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GLES3/gl3.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <lq2x/lq2x.h>

enum { W = 40, H = 30 };

static char* read_text(const char* folder, const char* name)
{
    char path[4096];
    snprintf(path, sizeof path, "%s/%s", folder, name);
    FILE* f = fopen(path, "rb");
    if (!f)
        return NULL;
    fseek(f, 0, SEEK_END);
    long n = ftell(f);
    rewind(f);
    char* text = malloc((size_t)n + 1);
    if (text && fread(text, 1, (size_t)n, f) == (size_t)n)
        text[n] = '\0';
    else
        free(text), text = NULL;
    fclose(f);
    return text;
}

static GLuint compile(GLenum stage, const char* text)
{
    GLuint s = glCreateShader(stage);
    GLint ok = 0;
    glShaderSource(s, 1, &text, NULL);
    glCompileShader(s);
    glGetShaderiv(s, GL_COMPILE_STATUS, &ok);
    return ok ? s : 0;
}

/* An integer texture for one frame: NEAREST filtering, or it is incomplete. */
static GLuint frame_texture(int w, int h, const void* pixels)
{
    GLuint t;
    glGenTextures(1, &t);
    glBindTexture(GL_TEXTURE_2D, t);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8UI, w, h, 0, GL_RGBA_INTEGER, GL_UNSIGNED_BYTE, pixels);
    return t;
}

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: gpu_frontend <folder with lq2x.frag and lq2x.vert>\n");
        return 2;
    }
    /* The stand-in for the front end's context. */
    EGLDisplay display = eglGetPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, NULL);
    const EGLint version[] = {EGL_CONTEXT_MAJOR_VERSION, 3, EGL_CONTEXT_MINOR_VERSION, 0, EGL_NONE};
    EGLContext context = EGL_NO_CONTEXT;
    if (display != EGL_NO_DISPLAY && eglInitialize(display, NULL, NULL) && eglBindAPI(EGL_OPENGL_ES_API))
        context = eglCreateContext(display, EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, version);
    if (context == EGL_NO_CONTEXT || !eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context)) {
        fprintf(stderr, "gpu_frontend: no OpenGL ES 3.0 context\n");
        return 1;
    }

    /* The program: the shipped shaders as they are (a desktop GL 3.3 context
     * would get "#version 330 core" in place of their first line). */
    char* vs_text = read_text(argv[1], "lq2x.vert");
    char* fs_text = read_text(argv[1], "lq2x.frag");
    GLuint vs = vs_text ? compile(GL_VERTEX_SHADER, vs_text) : 0, fs = fs_text ? compile(GL_FRAGMENT_SHADER, fs_text) : 0;
    free(vs_text);
    free(fs_text);
    GLuint program = glCreateProgram();
    GLint linked = 0;
    if (vs && fs) {
        glAttachShader(program, vs);
        glAttachShader(program, fs);
        glLinkProgram(program);
        glGetProgramiv(program, GL_LINK_STATUS, &linked);
    }
    if (!linked) {
        fprintf(stderr, "gpu_frontend: the shaders in %s did not build\n", argv[1]);
        return 1;
    }

    /* A picture of four colours in blobs, its RGBA pixels four bytes each;
     * some clear pixels keep colour bits, which a picture's first pass sees
     * as zero (u_hidden). */
    static uint32_t src[W * H], gpu[4 * W * 4 * H], cpu[4 * W * 4 * H];
    static GLuint read[4 * W * 4 * H * 4];
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const unsigned k = ((x / 3) ^ (y / 4) ^ (x * y / 17)) & 3;
            const unsigned char px[4] = {(unsigned char)(0x30 * k), (unsigned char)(0x20 * k), (unsigned char)(x * 7),
                                         (unsigned char)(k == 0 ? 0 : 0xFF)};
            memcpy(&src[y * W + x], px, 4);
        }

    /* The passes: lq2x_pass_options says what each does (the turn on the
     * last, a grid doubled on each, which sees colour under alpha 0 as
     * zero); each pass reads the texture of the one before. */
    lq2x_options o = lq2x_default_options();
    o.scale = 4;
    o.orientation = LQ2X_CCW;
    GLuint textures[4] = {frame_texture(W, H, src)}, framebuffers[3], vertex_array;
    glGenFramebuffers(3, framebuffers);
    glGenVertexArrays(1, &vertex_array);
    glUseProgram(program);
    glBindVertexArray(vertex_array);
    glUniform1i(glGetUniformLocation(program, "u_source"), 0);
    glUniform1i(glGetUniformLocation(program, "u_rgb565"), 0);
    int w = W, h = H, passes = 0;
    for (lq2x_options p = lq2x_default_options(); lq2x_pass_options(&o, passes, &p) == LQ2X_OK; ++passes) {
        const int turned = p.orientation != LQ2X_UPRIGHT, out_w = 2 * (turned ? h : w), out_h = 2 * (turned ? w : h);
        textures[passes + 1] = frame_texture(out_w, out_h, NULL);
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffers[passes]);
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, textures[passes + 1], 0);
        glViewport(0, 0, out_w, out_h);
        glActiveTexture(GL_TEXTURE0);
        glBindTexture(GL_TEXTURE_2D, textures[passes]);
        glUniform2i(glGetUniformLocation(program, "u_size"), w, h);
        glUniform1i(glGetUniformLocation(program, "u_turn"), p.orientation);
        glUniform1i(glGetUniformLocation(program, "u_hidden"), p.alpha_hides);
        glUniform2i(glGetUniformLocation(program, "u_edge"), p.edge_x, p.edge_y);
        glUniform4i(glGetUniformLocation(program, "u_grid"), p.tile_width, p.tile_height, p.tile_margin,
                    p.tile_spacing);
        glDrawArrays(GL_TRIANGLES, 0, 3);
        w = out_w, h = out_h;
    }
    /* A front end would now draw textures[2] to the screen; here it is read
     * back, four 32-bit channels a pixel, row 0 first. */
    glReadPixels(0, 0, 4 * H, 4 * W, GL_RGBA_INTEGER, GL_UNSIGNED_INT, read);
    if (glGetError() != GL_NO_ERROR) {
        fprintf(stderr, "gpu_frontend: the driver reported an error\n");
        return 1;
    }
    for (int i = 0; i < 4 * W * 4 * H; ++i) {
        const unsigned char bytes[4] = {(unsigned char)read[4 * i], (unsigned char)read[4 * i + 1],
                                        (unsigned char)read[4 * i + 2], (unsigned char)read[4 * i + 3]};
        memcpy(&gpu[i], bytes, 4);
    }

    /* The library's 4x, for comparison. */
    const lq2x_picture in = {src, W, H, W * 4, LQ2X_LAYOUT_RGBA}, out = {cpu, 4 * H, 4 * W, 4 * H * 4, LQ2X_LAYOUT_RGBA};
    const lq2x_status s = lq2x_scale_picture(&in, &out, &o);
    const int same = s == LQ2X_OK && memcmp(gpu, cpu, sizeof cpu) == 0;
    printf("%s: %d x %d scaled 4x and turned in %d passes on %s, %s the library's\n", same ? "ok" : "FAILED", W, H,
           passes, (const char*)glGetString(GL_RENDERER), same ? "the same bits as" : "NOT the same as");

    glDeleteFramebuffers(3, framebuffers);
    glDeleteTextures(4, textures);
    glDeleteVertexArrays(1, &vertex_array);
    glDeleteProgram(program);
    glDeleteShader(vs);
    glDeleteShader(fs);
    eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    eglDestroyContext(display, context);
    /* The display is left initialized: EGL has one per process, which other
     * code in it may share, and eglTerminate would end theirs too. */
    return same ? 0 : 1;
}
