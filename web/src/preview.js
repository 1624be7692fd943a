// The live preview in WebGL 2: the original's frames scaled by the lq2x
// shader as this build wrote it (lq2x.frag, from the library's own table),
// on integer textures (RGBA8UI) read with texelFetch into integer targets,
// pass by pass with the uniforms the library's plan gives (the worker hands
// them over as they are). What it draws is the download's pixels; the last
// pass's target stays bound for reading, as integers.
import vertex_text from 'lq2x-vertex';
import fragment_text from 'lq2x-fragment';
import show_text from './show.frag';

// A preview drawing into `canvas`, or { reason } where this browser cannot
// (no WebGL 2, or a driver that does not build the shaders).
export function gpu_preview(canvas) {
    const gl = canvas.getContext('webgl2', { alpha: true, premultipliedAlpha: false, antialias: false, depth: false,
                                             stencil: false, preserveDrawingBuffer: false });
    if (!gl) return { reason: 'this browser gives no WebGL 2' };
    const stage = (type, text) => {
        const s = gl.createShader(type);
        gl.shaderSource(s, text);
        gl.compileShader(s);
        if (!gl.getShaderParameter(s, gl.COMPILE_STATUS)) throw new Error(gl.getShaderInfoLog(s) || 'not compiled');
        return s;
    };
    const program = (fragment) => {
        const p = gl.createProgram();
        gl.attachShader(p, stage(gl.VERTEX_SHADER, vertex_text));
        gl.attachShader(p, stage(gl.FRAGMENT_SHADER, fragment));
        gl.linkProgram(p);
        if (!gl.getProgramParameter(p, gl.LINK_STATUS)) throw new Error(gl.getProgramInfoLog(p) || 'not linked');
        return p;
    };
    let lq2x, show;
    try {
        lq2x = program(fragment_text);
        show = program(show_text);
    } catch (e) {
        return { reason: `WebGL 2 here does not build the shader (${e.message.trim()})` };
    }
    const vertex_array = gl.createVertexArray();
    const locations = new Map();
    const location = (name) => {
        if (!locations.has(name)) locations.set(name, gl.getUniformLocation(lq2x, name));
        return locations.get(name);
    };
    const max_size = Math.min(gl.getParameter(gl.MAX_TEXTURE_SIZE), ...gl.getParameter(gl.MAX_VIEWPORT_DIMS));
    const debug = gl.getExtension('WEBGL_debug_renderer_info');
    const renderer = String(gl.getParameter(debug ? debug.UNMASKED_RENDERER_WEBGL : gl.RENDERER));

    // The frame's texture and each pass's target, kept while the sizes stay.
    let kept = { sizes: [], textures: [], framebuffers: [] };
    const prepare = (sizes) => {
        if (sizes.length === kept.sizes.length && sizes.every(([w, h], i) => w === kept.sizes[i][0] && h === kept.sizes[i][1]))
            return true;
        for (const t of kept.textures) gl.deleteTexture(t);
        for (const f of kept.framebuffers) gl.deleteFramebuffer(f);
        kept = { sizes: [], textures: [], framebuffers: [] };
        const textures = sizes.map(([w, h]) => {
            const t = gl.createTexture();
            gl.bindTexture(gl.TEXTURE_2D, t);
            gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_MIN_FILTER, gl.NEAREST);
            gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_MAG_FILTER, gl.NEAREST);
            gl.texStorage2D(gl.TEXTURE_2D, 1, gl.RGBA8UI, w, h);
            return t;
        });
        const framebuffers = textures.map((t, i) => {
            if (i === 0) return null; // the frame is only read
            const f = gl.createFramebuffer();
            gl.bindFramebuffer(gl.FRAMEBUFFER, f);
            gl.framebufferTexture2D(gl.FRAMEBUFFER, gl.COLOR_ATTACHMENT0, gl.TEXTURE_2D, t, 0);
            return f;
        });
        const complete = framebuffers.every((f) => {
            if (!f) return true;
            gl.bindFramebuffer(gl.FRAMEBUFFER, f);
            return gl.checkFramebufferStatus(gl.FRAMEBUFFER) === gl.FRAMEBUFFER_COMPLETE;
        });
        kept = { sizes, textures, framebuffers };
        return complete && gl.getError() === gl.NO_ERROR;
    };

    // Whether a plan's frames fit this browser's textures, or why not.
    const fits = (plan) => {
        const over = plan.passes.find((p) => p.width > max_size || p.height > max_size);
        return over ? `the result, ${over.width} × ${over.height}, is larger than this browser's WebGL 2 textures (${max_size})` : '';
    };

    // Frame k of `frames` (RGBA, from lq2x_read_file) through the plan's
    // passes, then on the canvas. False where the driver failed, or the
    // context is lost (whose calls do nothing and report no error).
    const draw = (frames, k, plan) => {
        if (gl.isContextLost()) return false;
        const sizes = [[frames.width, frames.height], ...plan.passes.map((p) => [p.width, p.height])];
        if (!prepare(sizes)) return false;
        const bytes = frames.width * frames.height * 4;
        gl.activeTexture(gl.TEXTURE0);
        gl.bindTexture(gl.TEXTURE_2D, kept.textures[0]);
        gl.pixelStorei(gl.UNPACK_ALIGNMENT, 1);
        gl.texSubImage2D(gl.TEXTURE_2D, 0, 0, 0, frames.width, frames.height, gl.RGBA_INTEGER, gl.UNSIGNED_BYTE,
                         new Uint8Array(frames.pixels.buffer, frames.pixels.byteOffset + k * bytes, bytes));
        gl.useProgram(lq2x);
        gl.bindVertexArray(vertex_array);
        plan.passes.forEach((pass, i) => {
            gl.bindFramebuffer(gl.DRAW_FRAMEBUFFER, kept.framebuffers[i + 1]);
            gl.viewport(0, 0, pass.width, pass.height);
            gl.bindTexture(gl.TEXTURE_2D, kept.textures[i]);
            for (const [name, value] of Object.entries(pass.uniforms)) gl[`uniform${value.length}iv`](location(name), value);
            gl.drawArrays(gl.TRIANGLES, 0, 3);
        });
        const [w, h] = sizes[sizes.length - 1];
        if (canvas.width !== w || canvas.height !== h) Object.assign(canvas, { width: w, height: h });
        if (gl.drawingBufferWidth !== w || gl.drawingBufferHeight !== h) return false; // the browser cut the canvas
        gl.bindFramebuffer(gl.FRAMEBUFFER, null);
        gl.viewport(0, 0, w, h);
        gl.useProgram(show);
        gl.bindTexture(gl.TEXTURE_2D, kept.textures[kept.textures.length - 1]);
        gl.uniform1i(gl.getUniformLocation(show, 'u_result'), 0);
        gl.drawArrays(gl.TRIANGLES, 0, 3);
        gl.bindFramebuffer(gl.READ_FRAMEBUFFER, kept.framebuffers[kept.framebuffers.length - 1]);
        return gl.getError() === gl.NO_ERROR && !gl.isContextLost();
    };
    return { canvas, renderer, max_size, fits, draw };
}
