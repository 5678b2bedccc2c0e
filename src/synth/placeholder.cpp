// placeholder so the library has a source until the renderer lands
namespace veltrana::synth {}
