// Whether this browser has WebGL on real graphics: no context where it would be drawn in software
// or is slow (the performance caveat), nor on a renderer that names itself as software.
const gl = new OffscreenCanvas(1, 1).getContext('webgl2', { failIfMajorPerformanceCaveat: true });
const info = gl?.getExtension('WEBGL_debug_renderer_info');
const name = info ? String(gl.getParameter(info.UNMASKED_RENDERER_WEBGL)) : '';
postMessage(gl !== null && !/swiftshader|llvmpipe|softpipe|software/i.test(name));
