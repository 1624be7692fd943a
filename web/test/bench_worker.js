// The page's scaling step alone, in a worker of its own: the same module the
// page inlines, warmed up as the page's worker is, scales RGBA frames with
// lq2x_scale_picture (one thread), and each run's time goes back. Loaded by
// the browser test from its own server, outside the page.
importScripts('/module/lq2x_web.js');

onmessage = async ({ data: { rgba, width, height, runs } }) => {
    const m = await create_lq2x().ready;
    // As the page's worker does before its first file comes: the engine
    // finishes the optimised code it compiles meanwhile once the worker is
    // back in its event loop.
    m._lq2x_web_warm_up();
    await new Promise((resolve) => setTimeout(resolve, 0));
    const src = m._malloc(rgba.length), dst = m._malloc(rgba.length * 4);
    m.HEAPU8.set(rgba, src);
    const times = [];
    let status = 0;
    for (let i = 0; i < runs && status === 0; ++i) {
        const t0 = performance.now();
        status = m._lq2x_web_scale_rgba(src, width, height, dst, 2, 0);
        times.push(performance.now() - t0);
    }
    const result = m.HEAPU8.slice(dst, dst + rgba.length * 4);
    m._free(src);
    m._free(dst);
    postMessage({ times, status, result, kernel: m.UTF8ToString(m._lq2x_web_kernel()) }, [result.buffer]);
};
